#pragma once

#include <cstdint>
#include <string>

// Small platform services that are not about printing. Free of Qt so the
// Windows implementation builds and runs without it.
namespace platform {

// Everything the command line holds after the program's own name, as one
// piece. Windows takes the raw text of the process's command line; elsewhere
// the arguments are joined by single spaces. UTF-8.
std::string commandLineText(int argc, char **argv);

// A classic system colour by its Win32 index as 0xRRGGBB.
enum SystemColor : int { ColorScrollBar = 0, ColorActiveBorder = 10 };
std::uint32_t systemColor(SystemColor index);

} // namespace platform
