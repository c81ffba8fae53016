#include "wincommandline.h"

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
