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
    explicit PrinterSelection(PrinterCollection &collection);

    QStringList deviceNames() const;
    // Asks the system for its default only when first needed, so a run
    // that never uses a printer never waits on the spooler.
    QString currentPrinter() const;

    // SelectPrinter: exact, case-sensitive match in collection order.
    bool selectPrinter(const QString &name);
    // Why the last look at the printers could not ask the system; empty
    // when it answered.
    QString unreachableReason() const;

    // Puts back a printer remembered earlier, even one removed since or
    // none at all, so the Print command leaves the current printer as it
    // found it on every path.
    void restore(const QString &remembered) { m_current = remembered; }

private:
    PrinterCollection &m_collection;
    mutable std::optional<QString> m_current;
};

// Index of the first item equal to name (exact, case-sensitive), or -1.
int indexOfExact(const QStringList &items, const QString &name);
