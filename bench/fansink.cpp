// Many printers on one loopback port, for bench/fanout.sh: accepts every
// connection and reads each at its own pace, as a printer would.
//   varnet_fansink RATE CONNECTIONS BYTES SECONDS
// RATE is bytes per second per connection. Prints "listening PORT" once it
// listens on 127.0.0.1; ends once CONNECTIONS connections have ended, or
// after SECONDS or two idle seconds, with "ended=N complete=M bytes=T seconds=S", complete
// counting the connections that brought exactly BYTES bytes.
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <queue>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Reads of at least this much, so that a thousand connections do not cost
// a system call each per few hundred bytes.
constexpr long long Quantum = 16384;
constexpr int ReceiveBuffer = 131072;

struct Connection
{
    Clock::time_point accepted;
    long long received = 0;
    bool paused = false;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: varnet_fansink RATE CONNECTIONS BYTES SECONDS\n");
        return 2;
    }
    const double rate = std::atof(argv[1]);
    const long expected = std::atol(argv[2]);
    const long long bytes = std::atoll(argv[3]);
    const double limit = std::atof(argv[4]);

    // One descriptor per printer, and more printers than the usual limit.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Inherited by every connection: a printer's buffer, not a server's.
    ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener, 4096) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        std::perror("varnet_fansink");
        return 1;
    }
    std::printf("listening %d\n", ntohs(address.sin_port));
    std::fflush(stdout);

    const int poller = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener;
    ::epoll_ctl(poller, EPOLL_CTL_ADD, listener, &event);

    std::unordered_map<int, Connection> connections;
    // Paused connections by the time they may read again.
    using Resume = std::pair<Clock::time_point, int>;
    std::priority_queue<Resume, std::vector<Resume>, std::greater<>> resumes;
    std::vector<char> scratch(262144);
    std::vector<epoll_event> ready(1024);
    long ended = 0;
    long complete = 0;
    long long total = 0;
    const Clock::time_point start = Clock::now();
    Clock::time_point lastEnd = start;

    // A sender that fails some connections never brings them: once nothing
    // has been open for two seconds, no more are coming.
    while (ended < expected && secondsSince(start) < limit &&
           !(ended > 0 && connections.empty() && secondsSince(lastEnd) > 2)) {
        int wait = 100;
        if (!resumes.empty()) {
            const auto until = std::chrono::duration_cast<std::chrono::milliseconds>(
                resumes.top().first - Clock::now());
            wait = static_cast<int>(std::clamp<long long>(until.count() + 1, 0, 100));
        }
        const int count = ::epoll_wait(poller, ready.data(), static_cast<int>(ready.size()), wait);
        const Clock::time_point now = Clock::now();
        while (!resumes.empty() && resumes.top().first <= now) {
            const int fd = resumes.top().second;
            resumes.pop();
            const auto found = connections.find(fd);
            if (found == connections.end() || !found->second.paused)
                continue;
            found->second.paused = false;
            epoll_event again{};
            again.events = EPOLLIN;
            again.data.fd = fd;
            ::epoll_ctl(poller, EPOLL_CTL_MOD, fd, &again);
        }
        for (int i = 0; i < count; ++i) {
            const int fd = ready[static_cast<std::size_t>(i)].data.fd;
            if (fd == listener) {
                for (;;) {
                    const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                    if (accepted < 0)
                        break;
                    connections[accepted].accepted = Clock::now();
                    epoll_event added{};
                    added.events = EPOLLIN;
                    added.data.fd = accepted;
                    ::epoll_ctl(poller, EPOLL_CTL_ADD, accepted, &added);
                }
                continue;
            }
            Connection &connection = connections[fd];
            const double allowed = rate * secondsSince(connection.accepted);
            const long long room = static_cast<long long>(allowed) - connection.received;
            // The last read must also see the end of the job.
            const long long needed = std::min(Quantum, std::max(1LL, bytes - connection.received + 1));
            if (room < needed) {
                // Ahead of its pace: no reading until the pace catches up.
                connection.paused = true;
                epoll_event none{};
                none.data.fd = fd;
                ::epoll_ctl(poller, EPOLL_CTL_MOD, fd, &none);
                const auto behind = std::chrono::duration<double>(static_cast<double>(needed - room) / rate);
                resumes.emplace(Clock::now() + std::chrono::duration_cast<Clock::duration>(behind), fd);
                continue;
            }
            const ssize_t got = ::recv(fd, scratch.data(),
                                       static_cast<std::size_t>(std::min<long long>(
                                           room, static_cast<long long>(scratch.size()))),
                                       0);
            if (got > 0) {
                connection.received += got;
                total += got;
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            // The end of the job, or a reset: either way the connection is over.
            if (got == 0 && connection.received == bytes)
                ++complete;
            ++ended;
            lastEnd = Clock::now();
            ::epoll_ctl(poller, EPOLL_CTL_DEL, fd, nullptr);
            ::close(fd);
            connections.erase(fd);
        }
    }
    std::printf("ended=%ld complete=%ld bytes=%lld seconds=%.3f\n", ended, complete, total,
                secondsSince(start));
    return ended == expected ? 0 : 1;
}
