#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Small platform services that are not about printing. Free of Qt so the
// Windows implementation builds and runs without it.
namespace platform {

// The command line after the program's name, as one piece (UTF-8): Windows
// gives its raw text; elsewhere the arguments are joined by single spaces.
std::string commandLineText(int argc, char **argv);

// A classic system colour by its Win32 index as 0xRRGGBB.
enum SystemColor : int { ColorScrollBar = 0, ColorActiveBorder = 10 };
std::uint32_t systemColor(SystemColor index);

// A large buffer about to be filled at once: huge pages, where the system
// has them, cost a few page faults instead of one per 4 KiB. Only a hint.
void adviseLargeBuffer(void *data, std::size_t size);

// Whether file dialogs read "*.*" as every file (else as the names with a
// dot), and whether the settings live in the registry (else in a file).
extern const bool starDotStarMeansAll;
extern const bool settingsInRegistry;
// Whether a printer can be reached over IPP without the system's spooler
// (libcups can; on Windows only the spooler's own printers are there).
extern const bool ippDirect;

// No display for a window: none named in the environment, and no other
// platform for Qt asked for. Windows always has its desktop.
bool noDisplay();

// For a program run from a shell: varnet-send, their one user.
namespace console {

// A standard descriptor the caller closed would be the number the next
// open() gets, and reading standard input would then read, or the summary
// be written into, whatever took it. They are held instead: the outputs on
// /dev/null, standard input on a folder, which /dev/stdin cannot pass off
// as an empty input as /dev/null would. Returns whether input was closed.
bool holdStandardDescriptors();
// Whether reading path would take from standard input's own stream
// (/dev/stdin on a pipe does); a plain file never counts, as each opening
// of it reads it whole.
bool isStandardInput(const std::string &path);
// The one signal mechanism, a self-pipe for an event loop's notifier: Ctrl-C,
// SIGTERM and a closed terminal (SIGHUP, unless ignored at start) each put a
// byte into the returned descriptor (-1: none). SIGPIPE and SIGXFSZ no longer
// end the program: the call fails and the program says so. Other signals keep
// their default action; the connections then reset on their own.
int catchInterrupts();
// The signal that put the byte there, 0 when none was.
int takeInterrupt(int descriptor);
// After the clean-up: dies by that signal, so a calling shell or script
// stops as it would for any other program.
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
// Soft limit on open files to the hard one: each printer holds a connection.
void raiseOpenFileLimit();
// How many more descriptors may be opened now; -1: no limit to speak of.
long long descriptorsLeft();
// Peak memory in KiB, -1 when unknown.
long long peakMemoryKiB();

} // namespace console

} // namespace platform
