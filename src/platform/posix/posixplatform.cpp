#include "platform/platform.h"

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

} // namespace platform
