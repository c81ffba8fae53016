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

// Files by the names the system spells them: bytes, UTF-8 on Windows.
struct FileStatus
{
    bool exists = false;
    bool isFolder = false;
    bool isRegular = false; // a plain file, not a pipe, device or folder
    bool readable = false;
};
FileStatus fileStatus(const std::string &name);
// Opens a plain file for reading, never waiting on a pipe or device: those
// are refused, as are folders. A C runtime descriptor, or -1 and why.
int openRegularFile(const std::string &name, std::string *why);
void closeFile(int descriptor);

// Conventions of the system the program runs on: whether its file dialogs
// read "*.*" as every file (else as the names with a dot), and whether the
// settings live in the registry (else in a file).
extern const bool starDotStarMeansAll;
extern const bool settingsInRegistry;
// Whether a printer can be reached over IPP without the system's spooler
// (libcups can; on Windows only the spooler's own printers are there).
extern const bool ippDirect;

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
// The one signal mechanism, a self-pipe for an event loop's notifier. From
// now on Ctrl-C, SIGTERM and a closed terminal (SIGHUP, unless it was
// ignored when the program started) each put a byte into the returned
// descriptor (-1 when there is none). A peer that closes on us, or a file
// size limit, no longer ends the program: the call fails instead and the
// program can say so. Every other signal keeps its default action; the
// connections reset on their own then (platform::tcp::closeAbortively).
int catchInterrupts();
// The signal that put the byte there, 0 when none was.
int takeInterrupt(int descriptor);
// After the clean-up: ends the program by that signal with its default
// action, so that a shell or caller sees death by Ctrl-C or SIGTERM and
// stops a loop or script as it would for any other program.
[[noreturn]] void endBySignal(int signal);
bool errorIsTerminal();
struct TerminalSize
{
    int columns = 0; // 0: unknown
    int rows = 0;
};
TerminalSize errorTerminalSize();
// Raises the soft limit on open files to the hard one: a send to many
// printers holds a connection to each.
void raiseOpenFileLimit();
// How many more descriptors the program may open now: the limit on open
// files less those open. -1 when there is no limit to speak of.
long long descriptorsLeft();
// Peak memory in KiB, -1 when unknown.
long long peakMemoryKiB();

} // namespace console

} // namespace platform
