#pragma once

#include <memory>
#include <string>
#include <vector>

// The installed printers as the system enumerates them. Kept free of Qt so
// the Windows backend can be built and run on its own (MinGW, Wine).
// All names are UTF-8.
class PrinterCollection
{
public:
    virtual ~PrinterCollection() = default;

    // Device names in the system's enumeration order; duplicates are kept.
    virtual std::vector<std::string> deviceNames() = 0;

    // The system's default printer, or empty when there is none.
    virtual std::string defaultPrinterName() = 0;

    // Why the last listing found no printers because the print system could
    // not be asked (the scheduler is down or silent); empty when it answered.
    virtual std::string unreachableReason() const { return {}; }
};

// Implemented once per platform backend (chosen by CMake).
std::unique_ptr<PrinterCollection> createSystemPrinterCollection();
