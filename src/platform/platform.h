#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// After the program's name, in UTF-8: Windows's raw text, else joined by spaces.
std::string commandLineText(int argc, char **argv);

// A classic system colour by its Win32 index as 0xRRGGBB.
enum SystemColor : int { ColorScrollBar = 0, ColorActiveBorder = 10 };
std::uint32_t systemColor(SystemColor index);

// For a buffer filled at once: huge pages cost fewer page faults. Only a hint.
void adviseLargeBuffer(void *data, std::size_t size);

// Whether file dialogs read "*.*" as every file (else as the names with a
// dot), and whether the settings live in the registry (else in a file).
extern const bool starDotStarMeansAll;
extern const bool settingsInRegistry;
// Whether a printer can be reached over IPP without the system's spooler
// (libcups can; on Windows only the spooler's own printers are there).
extern const bool ippDirect;
// Whether printers can be asked over SNMP (the Windows build has no library for it).
extern const bool snmpAgent;

// No display for a window: none named in the environment, and no other
// platform for Qt asked for. Windows always has its desktop.
bool noDisplay();

// The account the program runs as, in UTF-8; empty where the system cannot tell.
std::string userName();

// For varnet-send, their one user.
namespace console {

// Fills standard descriptors the caller closed, so no file opened later takes
// their numbers: outputs on /dev/null, input on a folder. True: input was closed.
bool holdStandardDescriptors();
// Whether reading path would share standard input's stream (never a plain file).
bool isStandardInput(const std::string &path);
// A self-pipe for a notifier: SIGINT, SIGTERM and SIGHUP (unless ignored) each
// put a byte into the returned descriptor (-1: none). SIGPIPE and SIGXFSZ are
// ignored; other signals kill, and the connections reset on their own.
int catchInterrupts();
int takeInterrupt(int descriptor);
// Dies by that signal, so a calling shell stops as for any other program.
[[noreturn]] void endBySignal(int signal);
bool errorIsTerminal();
bool inputIsTerminal();
// "SIGTERM" for SIGTERM.
std::string signalName(int signal);
struct TerminalSize
{
    int columns = 0; // 0: unknown
    int rows = 0;
};
TerminalSize errorTerminalSize();
// Each printer holds a connection.
void raiseOpenFileLimit();
// How many more descriptors may be opened now; -1: no limit to speak of.
long long descriptorsLeft();
// Peak memory in KiB, -1 when unknown.
long long peakMemoryKiB();

} // namespace console

} // namespace platform
