#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One non-blocking TCP client connection on the system's own socket: Qt's
// reports a reset from the printer as the end of the stream.
namespace platform::tcp {

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
// wouldBlock: the error is the system's "nothing can move now".
inline Result failed(int error, bool wouldBlock)
{
    const Status status = wouldBlock             ? Status::WouldBlock
                          : isResetError(error) ? Status::Reset
                                                : Status::Failed;
    return {status, 0, error};
}

// To a numeric IPv4 or IPv6 address (a scope may follow a '%'). Done:
// connected; WouldBlock: call finishConnect once writable; else no socket.
Socket startConnect(const std::string &address, std::uint16_t port, Result *result);
// Once a connecting socket is writable: Done, or why the connection failed.
Result finishConnect(Socket socket);

Result send(Socket socket, const char *data, std::size_t size);

// Whether file bytes can go to a socket without a copy (Linux: sendfile).
bool canSendFromFile();
// Up to size bytes of the file from offset, without moving its position.
// Done with 0 bytes: the file ends there. Failed (also where the system
// cannot): the caller reads and sends them, and meets the real error there.
Result sendFromFile(Socket socket, int fileDescriptor, std::int64_t offset, std::size_t size);
Result receive(Socket socket, char *data, std::size_t size);

// The error the connection holds, 0 if none; reading it clears it.
int pendingError(Socket socket);

// Ends our sending direction; false when the connection is already gone.
bool shutdownSending(Socket socket);

// Keeps what the system holds unsent near bytes: a slow printer makes the
// sender wait instead of filling kernel memory.
void limitUnsent(Socket socket, std::size_t bytes);

// Bytes not yet acknowledged by the peer (our end of stream counts once
// sent), and bytes not sent at all; -1 where the system cannot tell.
long long unacknowledgedBytes(Socket socket);
long long unsentBytes(Socket socket);

// A socket resets when it is closed, and so when the program ends in any
// way, unless closeGracefully ends it: the printer sees an aborted job,
// never a cut-off one that looks complete.
void closeAbortively(Socket socket);
// The orderly end: the system still delivers what it holds.
void closeGracefully(Socket socket);

std::string errorText(int error);

} // namespace platform::tcp
