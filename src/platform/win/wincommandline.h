#pragma once

#include <string>

// The text after the program name in a raw Windows command line, as the
// system's own parser delimits the program name: a quoted name runs to the
// closing quote, an unquoted one to the first blank. Blanks before the
// arguments are skipped; the rest is returned untouched.
std::wstring commandLineTail(const wchar_t *commandLine);
