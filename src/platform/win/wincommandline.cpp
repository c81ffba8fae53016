#include "wincommandline.h"
#include "platform/platform.h"
#include "wintext.h"

#include <windows.h>

std::wstring commandLineTail(const wchar_t *commandLine)
{
    if (!commandLine)
        return {};
    const wchar_t *p = commandLine;
    // The program name: quotes toggle, and only a blank outside quotes ends it.
    bool quoted = false;
    while (*p && (quoted || (*p != L' ' && *p != L'\t'))) {
        if (*p == L'"')
            quoted = !quoted;
        ++p;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    return std::wstring(p);
}

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

} // namespace platform
