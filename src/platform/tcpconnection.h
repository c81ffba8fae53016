#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Non-blocking TCP client connections on the system's sockets: Qt's report a
// reset from the printer as the end of the stream.
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
bool isOutOfDescriptors(int error);
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
Result finishConnect(Socket socket);

Result send(Socket socket, const char *data, std::size_t size);

// Whether sendFromFile goes without a copy.
bool canSendFromFile();
// From offset, not moving the file's position; Done with 0: the end. Failed
// (also where the system cannot): the caller reads and sends them itself.
Result sendFromFile(Socket socket, int fileDescriptor, std::int64_t offset, std::size_t size);
Result receive(Socket socket, char *data, std::size_t size);

// Reading it clears it.
int pendingError(Socket socket);

bool shutdownSending(Socket socket);

// A slow printer makes the sender wait instead of filling kernel memory.
void limitUnsent(Socket socket, std::size_t bytes);

// Bytes not yet acknowledged (our end of stream counts), and not sent; -1: unknown.
long long unacknowledgedBytes(Socket socket);
long long unsentBytes(Socket socket);

// A socket resets when closed, however the program ends, unless closeGracefully
// ends it: a cut-off job never looks complete.
void closeAbortively(Socket socket);
void closeGracefully(Socket socket);

std::string errorText(int error);

} // namespace platform::tcp
