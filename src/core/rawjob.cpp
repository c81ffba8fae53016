#include "core/rawjob.h"

#include "platform/spooler.h"

#include <cctype>
#include <utility>

RawJobOutcome sendRawJob(Spooler &spooler, const std::string &printer,
                         const std::string &documentName, const RawJobInput &input,
                         const StopFlag *stop, const std::function<void(long long)> &taken)
{
    RawJobOutcome outcome;
    const auto stopped = [stop] { return stop != nullptr && stop->isSet(); };
    const auto failed = [&](const char *fallback) {
        const SendResult failure = spooler.failure();
        outcome.outcome = failure.outcome == SendOutcome::Delivered ? SendOutcome::SpoolerRefused
                                                                    : failure.outcome;
        // The system's texts may end in a line break.
        outcome.sentence = failure.sentence;
        while (!outcome.sentence.empty() &&
               std::isspace(static_cast<unsigned char>(outcome.sentence.back())))
            outcome.sentence.pop_back();
        if (outcome.sentence.empty() && fallback != nullptr)
            outcome.sentence = fallback;
        if (stopped()) {
            outcome.outcome = SendOutcome::Cancelled;
            outcome.sentence = "cancelled, the job was withdrawn";
        }
        return outcome;
    };
    // From here on the handle is closed on every path, and a failure first
    // withdraws whatever part of the job the spooler already holds (the
    // backend knows whether there is one: a failed start may still have
    // created the job).
    const auto abandon = [&](const char *fallback) {
        failed(fallback);
        spooler.cancelJob();
        spooler.close();
        return outcome;
    };

    if (!spooler.open(printer))
        return failed("the queue could not be opened");
    if (!spooler.startDocument(documentName))
        return abandon("the job could not be started");
    if (!spooler.startPage())
        return abandon("the page could not be started");

    // Every piece is written, an empty first one too: the Windows spooler
    // keeps an empty job as one empty page.
    std::string_view piece;
    std::string inputError;
    while (!stopped()) {
        outcome.inputDrawn = true;
        if (!input(&piece, &inputError) || stopped())
            break;
        const std::size_t written = spooler.write(piece.data(), piece.size());
        outcome.taken += static_cast<long long>(written);
        outcome.offered += static_cast<long long>(piece.size());
        if (taken)
            taken(static_cast<long long>(written));
        if (written != piece.size())
            return abandon(nullptr);
    }
    if (stopped())
        return abandon(nullptr);
    if (!inputError.empty()) {
        abandon(nullptr);
        outcome.outcome = SendOutcome::TransferFailed;
        outcome.sentence = inputError;
        return outcome;
    }

    if (!spooler.endPage())
        return abandon("the page could not be ended");
    if (!spooler.endDocument())
        return abandon("the job could not be finished");
    outcome.jobId = spooler.jobId();

    // The job is complete at the spooler; a failing close is reported but
    // must not withdraw it.
    if (!spooler.close()) {
        outcome.jobId = 0;
        return failed("the queue could not be closed");
    }
    return outcome;
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
