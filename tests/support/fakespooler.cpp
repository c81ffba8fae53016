#include "fakespooler.h"

#include <algorithm>

bool FakeSpooler::step(const QString &call, const QString &name)
{
    calls.append(call);
    if (failAt != name)
        return true;
    error = failureText;
    return false;
}

bool FakeSpooler::open(const std::string &printerName)
{
    return step(QStringLiteral("open:") + QString::fromStdString(printerName),
                QStringLiteral("open"));
}

bool FakeSpooler::startDocument(const std::string &documentName)
{
    if (!step(QStringLiteral("startDocument:") + QString::fromStdString(documentName),
              QStringLiteral("startDocument")))
        return false;
    ++job;
    return true;
}

bool FakeSpooler::startPage()
{
    return step(QStringLiteral("startPage"), QStringLiteral("startPage"));
}

std::size_t FakeSpooler::write(const char *data, std::size_t size)
{
    lastWriteData = data;
    const bool whole = step(QStringLiteral("write:%1").arg(size), QStringLiteral("write"));
    const std::size_t took = whole ? size : std::min(acceptBytes, size);
    written.append(data, static_cast<qsizetype>(took));
    return took;
}

bool FakeSpooler::endPage()
{
    return step(QStringLiteral("endPage"), QStringLiteral("endPage"));
}

bool FakeSpooler::endDocument()
{
    return step(QStringLiteral("endDocument"), QStringLiteral("endDocument"));
}

void FakeSpooler::cancelJob()
{
    calls.append(QStringLiteral("cancelJob"));
}

bool FakeSpooler::close()
{
    return step(QStringLiteral("close"), QStringLiteral("close"));
}
