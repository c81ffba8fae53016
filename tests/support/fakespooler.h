#pragma once

#include "platform/spooler.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// A spooler whose every step can be made to fail, for faults a real
// scheduler does not produce on demand (a short write, a failing page).
// Records the calls in order as "open:NAME", "startDocument:NAME",
// "startPage", "write:SIZE", "endPage", "endDocument", "cancelJob", "close".
class FakeSpooler : public Spooler
{
public:
    bool open(const std::string &printerName) override;
    bool startDocument(const std::string &documentName) override;
    bool startPage() override;
    std::size_t write(const char *data, std::size_t size) override;
    bool endPage() override;
    bool endDocument() override;
    void cancelJob() override;
    bool close() override;
    int jobId() const override { return job; }
    std::string errorText() const override { return error; }
    Failure failure() const override { return failureKind; }

    // The step (as named in calls) that fails; for "write" the spooler takes
    // acceptBytes bytes.
    QString failAt;
    std::size_t acceptBytes = 0;
    // What the spooler says about the failure; empty means it says nothing.
    std::string failureText = "simulated failure";
    Failure failureKind = Failure::Refused;

    int job = 0; // numbered from 1 as documents start
    QStringList calls;
    QByteArray written;
    const char *lastWriteData = nullptr;
    std::string error;

private:
    bool step(const QString &call, const QString &name);
};
