#include "core/printerselection.h"

#include "platform/printercollection.h"

QString PrinterSelection::currentPrinter() const
{
    if (!m_current)
        m_current = QString::fromStdString(m_collection.defaultPrinterName());
    return *m_current;
}

QStringList PrinterSelection::deviceNames() const
{
    QStringList names;
    for (const std::string &name : m_collection.deviceNames())
        names.append(QString::fromStdString(name));
    return names;
}

bool PrinterSelection::selectPrinter(const QString &name)
{
    // Asked afresh: a queue deleted since start-up is no longer found.
    if (!deviceNames().contains(name))
        return false;
    m_current = name;
    return true;
}

QString PrinterSelection::unreachableReason() const
{
    return QString::fromStdString(m_collection.unreachableReason());
}
