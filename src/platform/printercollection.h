#pragma once

#include <memory>
#include <string>
#include <vector>

// The installed printers as the system enumerates them; names in UTF-8.
class PrinterCollection
{
public:
    virtual ~PrinterCollection() = default;

    // In the system's order; duplicates are kept.
    virtual std::vector<std::string> deviceNames() = 0;

    virtual std::string defaultPrinterName() = 0;

    // Why the last listing could not ask the print system; empty when it answered.
    virtual std::string unreachableReason() const { return {}; }
};

std::unique_ptr<PrinterCollection> createSystemPrinterCollection();
