// Waits on the window's thread while its events go on being handled.
#pragma once

#include "platform/Kernel.h"

#include <QEventLoop>
#include <QTimer>

// Milliseconds of program time: HARROW_TIME_SCALE shortens them as it does Sleep.
inline void PumpWait(DWORD milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(harrow::platform::ScaledMilliseconds(milliseconds)), &loop, &QEventLoop::quit);
    loop.exec();
}
