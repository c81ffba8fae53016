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

// Ends our sending direction of a connected TCP socket: the peer reads the
// end of the stream after the last byte, and may still answer.
void shutdownSending(std::intptr_t socket);
// Bytes sent on a TCP socket that the peer has not yet acknowledged, or -1
// where the system cannot tell.
long long unacknowledgedBytes(std::intptr_t socket);

} // namespace platform
