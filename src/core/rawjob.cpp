#include "core/rawjob.h"

#include "platform/spooler.h"

#include <cctype>
#include <utility>

RawJobOutcome sendRawJob(Spooler &spooler, const std::string &printer,
                         const std::string &documentName, const RawJobInput &input,
                         const StopFlag *stop, const std::function<void(long long)> &taken)
{
    using Step = RawJobOutcome::Step;
    RawJobOutcome outcome;
    bool drawn = false; // whether input was asked for anything yet
    const auto stopped = [stop] { return stop != nullptr && stop->isSet(); };
    const auto failed = [&](Step step, const char *fallback) {
        outcome.failedStep = step;
        // The system's texts may end in a line break.
        outcome.reason = spooler.errorText();
        while (!outcome.reason.empty() &&
               std::isspace(static_cast<unsigned char>(outcome.reason.back())))
            outcome.reason.pop_back();
        if (outcome.reason.empty() && step != Step::Write)
            outcome.reason = fallback;
        const Spooler::Failure failure = spooler.failure();
        if (stopped()) {
            outcome.outcome = SendOutcome::Cancelled;
            outcome.reason = "cancelled, the job was withdrawn";
            return outcome;
        }
        if (step == Step::Open) {
            // A printer that is there but takes no jobs, or none now, refuses them.
            outcome.outcome = failure == Spooler::Failure::NotAccepting ||
                                      failure == Spooler::Failure::Busy
                                  ? SendOutcome::SpoolerRefused
                                  : SendOutcome::ConnectionFailed;
        } else {
            switch (failure) {
            case Spooler::Failure::Refused:
            case Spooler::Failure::NotAccepting:
            case Spooler::Failure::Busy:
                outcome.outcome = SendOutcome::SpoolerRefused;
                break;
            case Spooler::Failure::Lost:
                outcome.outcome = SendOutcome::TransferFailed;
                break;
            case Spooler::Failure::NoPrinter:
                outcome.outcome = SendOutcome::ConnectionFailed;
                break;
            }
        }
        outcome.retryable =
            !drawn && (failure == Spooler::Failure::Busy ||
                       (step == Step::Open && failure == Spooler::Failure::Lost));
        return outcome;
    };
    // From here on the handle is closed on every path, and a failure first
    // withdraws whatever part of the job the spooler already holds (the
    // backend knows whether there is one: a failed start may still have
    // created the job).
    const auto abandon = [&](Step step, const char *fallback) {
        failed(step, fallback);
        spooler.cancelJob();
        spooler.close();
        return outcome;
    };

    if (!spooler.open(printer))
        return failed(Step::Open, "the queue could not be opened");
    if (!spooler.startDocument(documentName))
        return abandon(Step::StartDocument, "the job could not be started");
    if (!spooler.startPage())
        return abandon(Step::StartPage, "the page could not be started");

    // Every piece is written, an empty first one too: the Windows spooler
    // keeps an empty job as one empty page.
    std::string_view piece;
    std::string inputError;
    while (!stopped()) {
        drawn = true;
        if (!input(&piece, &inputError) || stopped())
            break;
        const std::size_t written = spooler.write(piece.data(), piece.size());
        outcome.taken += static_cast<long long>(written);
        outcome.offered += static_cast<long long>(piece.size());
        if (taken)
            taken(static_cast<long long>(written));
        if (written != piece.size())
            return abandon(Step::Write, nullptr);
    }
    if (stopped())
        return abandon(Step::Write, nullptr);
    if (!inputError.empty()) {
        abandon(Step::Write, nullptr);
        outcome.outcome = SendOutcome::TransferFailed;
        outcome.reason = inputError;
        return outcome;
    }

    if (!spooler.endPage())
        return abandon(Step::EndPage, "the page could not be ended");
    if (!spooler.endDocument())
        return abandon(Step::EndDocument, "the job could not be finished");
    outcome.jobId = spooler.jobId();

    // The job is complete at the spooler; a failing close is reported but
    // must not withdraw it.
    if (!spooler.close()) {
        outcome.jobId = 0;
        return failed(Step::Close, "the queue could not be closed");
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
