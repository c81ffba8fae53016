#pragma once

#include "platform/spooler.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <optional>

// A spooler whose every step can be made to fail, for faults a real
// scheduler does not produce on demand (a short write, a failing close).
// Records the calls in order as "open:NAME", "startDocument:NAME",
// "write:SIZE", "endDocument", "cancelJob", "close".
class FakeSpooler : public Spooler
{
public:
    bool open(const std::string &name) override { return step("open", name); }
    bool startDocument(const std::string &name) override
    {
        return step("startDocument", name) && ++job > 0;
    }
    std::size_t write(const char *data, std::size_t size) override
    {
        lastWriteData = data;
        const std::size_t took = step("write", std::to_string(size)) ? size : std::min(acceptBytes, size);
        written.append(data, static_cast<qsizetype>(took));
        return took;
    }
    bool endDocument() override { return step("endDocument"); }
    void cancelJob() override { calls.append(QStringLiteral("cancelJob")); }
    bool close() override { return step("close"); }
    int jobId() const override { return job; }
    // Like the real backends: a name that does not open names no printer.
    SendResult failure() const override
    {
        return {failureKind.value_or(failAt == QLatin1String("open") ? SendOutcome::NoPrinter
                                                                      : SendOutcome::SpoolerRefused),
                error};
    }

    // The step (as named in calls) that fails; for "write" the spooler takes
    // acceptBytes bytes.
    QString failAt;
    std::size_t acceptBytes = 0;
    // What the spooler says about the failure; empty means it says nothing.
    std::string failureText = "simulated failure";
    std::optional<SendOutcome> failureKind;

    int job = 0; // numbered from 1 as documents start
    QStringList calls;
    QByteArray written;
    const char *lastWriteData = nullptr;
    std::string error;

private:
    bool step(const char *name, const std::string &detail = {})
    {
        calls.append(QLatin1String(name) +
                     (detail.empty() ? QString() : u':' + QString::fromStdString(detail)));
        if (failAt != QLatin1String(name))
            return true;
        error = failureText;
        return false;
    }
};
