#pragma once

// Rows of the terminal when standard input and output both are one (paging
// prompts need someone to answer them); 0 otherwise.
int InteractivePageHeight();
