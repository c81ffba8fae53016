#pragma once

#include <string>
#include <string_view>

// UTF-8 <-> UTF-16 for the wide-character Win32 calls.
std::wstring toWide(std::string_view utf8);
std::string toUtf8(std::wstring_view wide);

std::string systemErrorText(unsigned long code);

// The untouched text after the program name (ending as the system's parser
// ends it: at a blank outside quotes) and the blanks that follow it.
std::wstring commandLineTail(const wchar_t *commandLine);
