#include "core/rawjob.h"

#include "platform/spooler.h"

#include <utility>

namespace {

struct RawJob
{
    Spooler &spooler;
    const StopFlag *stop;
    RawJobOutcome outcome;

    bool stopped() const { return stop != nullptr && stop->isSet(); }

    RawJobOutcome failed(const char *fallback)
    {
        const SendResult failure = spooler.failure();
        outcome.outcome = failure.outcome == SendOutcome::Delivered ? SendOutcome::SpoolerRefused
                                                                    : failure.outcome;
        // The system's texts may end in a line break.
        outcome.sentence = failure.sentence;
        outcome.sentence.erase(outcome.sentence.find_last_not_of(" \t\n\v\f\r") + 1);
        if (outcome.sentence.empty() && fallback != nullptr)
            outcome.sentence = fallback;
        if (stopped())
            static_cast<SendResult &>(outcome) = {SendOutcome::Cancelled,
                                                  "cancelled, the job was withdrawn"};
        return outcome;
    }

    // Once started, a failed job is withdrawn (a failed start may still
    // have created one) and the handle closed.
    RawJobOutcome abandon(const char *fallback)
    {
        failed(fallback);
        spooler.cancelJob();
        spooler.close();
        return outcome;
    }

    // An empty first piece is written too: the Windows spooler keeps an
    // empty job as one empty page.
    bool writeAll(const RawJobInput &input, const std::function<void(long long)> &taken,
                  std::string *inputError)
    {
        std::string_view piece;
        while (!stopped()) {
            outcome.inputDrawn = true;
            if (!input(&piece, inputError) || stopped())
                break;
            const std::size_t written = spooler.write(piece.data(), piece.size());
            outcome.taken += static_cast<long long>(written);
            outcome.offered += static_cast<long long>(piece.size());
            if (taken)
                taken(static_cast<long long>(written));
            if (written != piece.size()) {
                inputError->clear(); // the spooler's failure is the one told
                return false;
            }
        }
        return !stopped() && inputError->empty();
    }
};

} // namespace

RawJobOutcome sendRawJob(Spooler &spooler, const std::string &printer,
                         const std::string &documentName, const RawJobInput &input,
                         const StopFlag *stop, const std::function<void(long long)> &taken)
{
    RawJob job{spooler, stop, {}};
    if (!spooler.open(printer))
        return job.failed("the queue could not be opened");
    if (!spooler.startDocument(documentName))
        return job.abandon("the job could not be started");
    if (std::string inputError; !job.writeAll(input, taken, &inputError)) {
        job.abandon(nullptr);
        if (!inputError.empty() && !job.stopped())
            static_cast<SendResult &>(job.outcome) = {SendOutcome::TransferFailed, inputError};
        return job.outcome;
    }
    if (!spooler.endDocument())
        return job.abandon("the job could not be finished");
    job.outcome.jobId = spooler.jobId();
    // The job is complete at the spooler; a failing close is reported but
    // must not withdraw it.
    if (!spooler.close()) {
        job.outcome.jobId = 0;
        return job.failed("the queue could not be closed");
    }
    return job.outcome;
}

RawJobOutcome sendRawJob(Spooler &spooler, const std::string &printer, std::string_view content)
{
    bool given = false;
    return sendRawJob(spooler, printer, RawJobDocumentName,
                      [content, &given](std::string_view *piece, std::string *) {
                          *piece = content;
                          return !std::exchange(given, true);
                      });
}
