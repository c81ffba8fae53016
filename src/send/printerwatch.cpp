#include "printerwatch.h"

#include "core/bytesource.h"
#include "transfer.h"

#include <QMetaObject>

PrinterWatch::PrinterWatch(const Destination &destination, const SendOptions &options,
                           QObject *parent)
    : QObject(parent),
      m_agent(createPrinterAgent(destination.name.toStdString(), options.snmpPort,
                                 options.snmpCommunity.toStdString())),
      m_waitTimeoutMs(options.waitTimeoutMs)
{
}

PrinterWatch::~PrinterWatch() = default;

template <typename Result>
void PrinterWatch::run(std::function<Result(const std::stop_token &)> work,
                       std::function<void(const Result &)> done)
{
    m_busy = true;
    // Replacing the thread joins the one before, which has ended by now.
    m_thread = std::jthread([this, work = std::move(work), done = std::move(done)](std::stop_token stop) {
        const Result result = work(stop);
        QMetaObject::invokeMethod(
            this,
            [this, done, result] {
                m_busy = false;
                done(result);
            },
            Qt::QueuedConnection);
    });
}

void PrinterWatch::ask(std::function<void(const PrinterStatus &)> done)
{
    run<PrinterStatus>([this](const std::stop_token &stop) { return m_agent->ask(stop); },
                       std::move(done));
}

void PrinterWatch::follow(const PrinterStatus &before,
                          std::function<void(const std::string &)> onStatus,
                          std::function<void(const PrinterEnd &)> done)
{
    run<PrinterEnd>(
        [this, before, onStatus = std::move(onStatus)](const std::stop_token &stop) {
            return followPrinter(*m_agent, before, {m_waitTimeoutMs, stop, onStatus});
        },
        std::move(done));
}

namespace {

class NoInput final : public ByteSource
{
public:
    qint64 size() const override { return 0; }
    std::unique_ptr<SourceReader> makeReader() override { return nullptr; }
};

// How a printer stands, as the answer to --status: delivered when it can
// print, refused when it reports why it cannot, failed when it did not answer.
class StatusTransfer final : public Transfer
{
public:
    StatusTransfer(const Destination &destination, const SendOptions &options, QObject *parent)
        : Transfer(destination, parent), m_watch(destination, options, this)
    {
    }

    void begin() override
    {
        countAttempt();
        m_watch.ask([this](const PrinterStatus &status) {
            setPrinter(status);
            const std::string refusal = status.refusal();
            if (status.outcome == SendOutcome::Delivered && !refusal.empty())
                finish(SendOutcome::SpoolerRefused, QString::fromStdString(refusal));
            else
                finish(status.outcome, QString::fromStdString(status.sentence));
        });
    }

    void cancel() override { m_watch.cancel(); }

private:
    PrinterWatch m_watch;
};

} // namespace

std::unique_ptr<ByteSource> noInput()
{
    return std::make_unique<NoInput>();
}

Transfer *newStatusTransfer(const Destination &destination, const SendOptions &options, QObject *parent)
{
    return new StatusTransfer(destination, options, parent);
}
