#include "platform/platform.h"

#include <winsock2.h>

namespace platform {

void shutdownSending(std::intptr_t socket)
{
    ::shutdown(static_cast<SOCKET>(socket), SD_SEND);
}

long long unacknowledgedBytes(std::intptr_t)
{
    // Winsock does not tell; callers then keep to what they know.
    return -1;
}

void adviseLargeBuffer(void *, std::size_t)
{
    // Large pages need a privilege ordinary users lack; nothing to advise.
}

} // namespace platform
