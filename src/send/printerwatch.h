#pragma once

#include "platform/printerstatus.h"

#include <QObject>

#include <functional>
#include <memory>
#include <thread>

class ByteSource;
class Transfer;
struct Destination;
struct SendOptions;

// A TCP destination's printer, asked over SNMP on a thread of its own; what
// it says comes back on the event loop's thread. One question at a time.
class PrinterWatch : public QObject
{
public:
    PrinterWatch(const Destination &destination, const SendOptions &options, QObject *parent);
    ~PrinterWatch() override;

    void ask(std::function<void(const PrinterStatus &)> done);
    // After the printer took a job whole: until it has printed it.
    void follow(const PrinterStatus &before, std::function<void(const std::string &)> onStatus,
                std::function<void(const PrinterEnd &)> done);
    bool busy() const { return m_busy; }
    // The question under way ends at once, as Cancelled.
    void cancel() { m_thread.request_stop(); }

private:
    template <typename Result>
    void run(std::function<Result(const std::stop_token &)> work,
             std::function<void(const Result &)> done);

    std::unique_ptr<PrinterAgent> m_agent;
    int m_waitTimeoutMs;
    bool m_busy = false;
    std::jthread m_thread; // last: stopped and joined before the rest goes
};

// The input of --status: nothing to send.
std::unique_ptr<ByteSource> noInput();
// For --status: no transfer at all, only the question how a TCP printer stands.
Transfer *newStatusTransfer(const Destination &destination, const SendOptions &options, QObject *parent);
