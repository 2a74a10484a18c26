#pragma once

// Lets a GUI thread that waits on workers handle up to 10 pending window
// events; does nothing in a console program.
void ClearMsgQueue();
