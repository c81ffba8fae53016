#include "platform/platform.h"
#include "wintext.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

namespace platform {

std::string commandLineText(int, char **)
{
    return toUtf8(commandLineTail(GetCommandLineW()));
}

std::uint32_t systemColor(SystemColor index)
{
    const DWORD bgr = GetSysColor(static_cast<int>(index));
    return (static_cast<std::uint32_t>(GetRValue(bgr)) << 16) |
           (static_cast<std::uint32_t>(GetGValue(bgr)) << 8) | GetBValue(bgr);
}

void adviseLargeBuffer(void *, std::size_t)
{
    // Large pages need a privilege ordinary users lack; nothing to advise.
}

const bool starDotStarMeansAll = true;
const bool settingsInRegistry = true;
const bool ippDirect = false;

bool noDisplay()
{
    return false;
}

} // namespace platform
