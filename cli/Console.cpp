#include "cli/Console.h"

#include <sys/ioctl.h>
#include <unistd.h>

int InteractivePageHeight()
{
    if (isatty(STDIN_FILENO) == 0 || isatty(STDOUT_FILENO) == 0) {
        return 0;
    }
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_row;
}
