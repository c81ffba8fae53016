#pragma once

#include <string>
#include <string_view>

// UTF-8 <-> UTF-16 for the wide-character Win32 calls.
std::wstring toWide(std::string_view utf8);
std::string toUtf8(std::wstring_view wide);

// The system's text for a Win32 error code, in UTF-8, without a trailing newline.
std::string systemErrorText(unsigned long code);

// The text after the program name in a raw Windows command line, as the
// system's own parser delimits the program name: a quoted name runs to the
// closing quote, an unquoted one to the first blank. Blanks before the
// arguments are skipped; the rest is returned untouched.
std::wstring commandLineTail(const wchar_t *commandLine);
