#include "platform/platform.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace platform {

std::string commandLineText(int argc, char **argv)
{
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
    return text;
}

std::uint32_t systemColor(SystemColor)
{
    // Both colours we use are the same grey in the classic desktop scheme.
    return 0xD4D0C8;
}

void shutdownSending(std::intptr_t socket)
{
    ::shutdown(static_cast<int>(socket), SHUT_WR);
}

long long unacknowledgedBytes(std::intptr_t socket)
{
    int pending = 0;
    if (::ioctl(static_cast<int>(socket), SIOCOUTQ, &pending) != 0)
        return -1;
    return pending;
}

} // namespace platform
