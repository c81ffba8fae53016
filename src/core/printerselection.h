#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class PrinterCollection;

// The application's current printer: starts as the system default and is
// changed only by selectPrinter(), which the Print command calls and undoes.
class PrinterSelection
{
public:
    explicit PrinterSelection(PrinterCollection &collection) : m_collection(collection) {}

    QStringList deviceNames() const;
    // Asked of the system only when first needed: the spooler may be slow.
    QString currentPrinter() const;
    // Exact, case-sensitive match among the printers installed now.
    bool selectPrinter(const QString &name);
    // Why the last look at the printers could not ask the system.
    QString unreachableReason() const;
    // Puts back a printer remembered earlier, even one removed since or
    // none at all, so Print leaves the current printer as it found it.
    void restore(const QString &remembered) { m_current = remembered; }

private:
    PrinterCollection &m_collection;
    mutable std::optional<QString> m_current;
};
