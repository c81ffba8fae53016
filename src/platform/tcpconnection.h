#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One non-blocking TCP client connection on the system's own socket. Free of
// Qt on purpose: a portable socket class reports a reset from the printer as
// the end of the stream, and only the bare socket tells the two apart.
namespace platform::tcp {

// A socket descriptor (POSIX) or SOCKET handle (Windows).
using Socket = std::intptr_t;
inline constexpr Socket NoSocket = -1;

enum class Status {
    Done,        // the call did its work; bytes says how much moved
    WouldBlock,  // nothing can move now; wait for the socket's notification
    EndOfStream, // the peer ended its sending direction in order
    Reset,       // the peer reset the connection
    Failed,      // any other error; error says which
};

struct Result
{
    Status status = Status::Failed;
    std::size_t bytes = 0;
    int error = 0; // the system's error number for Reset and Failed

    static Result done(std::size_t bytes) { return {Status::Done, bytes, 0}; }
};

bool isResetError(int error);
// The program, or the system, has no descriptor left for a new socket.
bool isOutOfDescriptors(int error);
// What a system error means to the caller; wouldBlock: it is the system's
// "nothing can move now".
inline Result failed(int error, bool wouldBlock)
{
    const Status status = wouldBlock             ? Status::WouldBlock
                          : isResetError(error) ? Status::Reset
                                                : Status::Failed;
    return {status, 0, error};
}

// Starts connecting to a numeric IPv4 or IPv6 address (an IPv6 scope may
// follow a '%'). Done: connected at once; WouldBlock: under way, call
// finishConnect once the socket is writable. On failure no socket is left.
Socket startConnect(const std::string &address, std::uint16_t port, Result *result);
// Once a connecting socket is writable: Done, or why the connection failed.
Result finishConnect(Socket socket);

Result send(Socket socket, const char *data, std::size_t size);

// Whether the system can hand a file's bytes to a socket straight from its
// file cache, without copying them through the program (Linux: sendfile).
bool canSendFromFile();
// Hands up to size bytes of the open file fileDescriptor, from offset, to
// the socket; the file's own position does not move. Done with 0 bytes: the
// file ends at offset. Failed (also where the system cannot do this): the
// caller reads and sends the bytes itself, and meets the real error there.
Result sendFromFile(Socket socket, int fileDescriptor, std::int64_t offset, std::size_t size);
Result receive(Socket socket, char *data, std::size_t size);

// The error the connection holds, 0 if none. Reading it clears it, so a
// later receive reports the end of the stream instead.
int pendingError(Socket socket);

// Ends our sending direction: the peer reads the end of the stream after our
// last byte. False when the connection is already gone.
bool shutdownSending(Socket socket);

// Keeps what the system holds for us unsent near this many bytes, so that a
// slow printer makes the sender wait instead of filling kernel memory.
void limitUnsent(Socket socket, std::size_t bytes);

// Bytes the system holds for the connection that the peer has not yet
// acknowledged, counting our end of stream once sent; -1 where the system
// cannot tell.
long long unacknowledgedBytes(Socket socket);
// Bytes the system holds that have not been sent at all; -1 where unknown.
long long unsentBytes(Socket socket);

// A socket resets when it is closed, and so when the program ends in any
// way, unless closeGracefully ends it: the printer sees an aborted job,
// never a cut-off one that looks complete.
void closeAbortively(Socket socket);
// The orderly end, once the printer has everything: the system still
// delivers what it holds.
void closeGracefully(Socket socket);

// The system's description of an error number.
std::string errorText(int error);

} // namespace platform::tcp
