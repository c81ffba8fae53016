#pragma once

#include <string>

// What a program run from a shell needs of the system beyond its sockets:
// its standard descriptors, Ctrl-C, the terminal it draws on, its memory,
// the kind of file it reads. POSIX descriptors; built for Linux only, as is
// varnet-send, the one program that uses them.
namespace platform::console {

// A standard descriptor the caller closed would be the number the next
// open() gets, and reading standard input would then read, or the summary
// be written into, whatever took it. They are held instead: the outputs on
// /dev/null, standard input on a folder, which /dev/stdin cannot pass off
// as an empty input as /dev/null would. Returns whether input was closed.
bool holdStandardDescriptors();
// Whether path names the file standard input is (/dev/stdin does).
bool isStandardInput(const std::string &path);

// From now on Ctrl-C and SIGTERM each put a byte into the returned
// descriptor (-1 when there is none), for the event loop to hear. A peer
// that closes on us, or a file size limit, no longer ends the program: the
// call fails instead and the program can say so.
int catchInterrupts();
// Takes one of those bytes back.
void takeInterrupt(int descriptor);

// Standard error is a terminal, and how large it is (0: unknown).
bool errorIsTerminal();
struct TerminalSize
{
    int columns = 0;
    int rows = 0;
};
TerminalSize errorTerminalSize();

// This process's own peak memory in KiB, -1 when unknown.
long long peakMemoryKiB();

// Files whose size is no measure of their content: procfs says 0, sysfs a page.
bool sizeSaysNothing(int descriptor);

} // namespace platform::console
