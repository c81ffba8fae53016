#pragma once

#include <cstddef>
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

// A large buffer about to be filled at once: where the system can, back it
// with huge pages so filling it costs a few page faults instead of one per
// 4 KiB. Only a hint; the buffer works the same either way.
void adviseLargeBuffer(void *data, std::size_t size);

} // namespace platform
