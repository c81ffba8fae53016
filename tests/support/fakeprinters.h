#pragma once

#include "platform/printercollection.h"

#include <string>
#include <utility>
#include <vector>

// A printer collection for cases the system cannot be made to show, such as
// two queues with the same device name.
class FakePrinters : public PrinterCollection
{
public:
    FakePrinters(std::vector<std::string> names_ = {}, std::string defaultName_ = {})
        : names(std::move(names_)), defaultName(std::move(defaultName_))
    {
    }

    std::vector<std::string> deviceNames() override { return names; }
    std::string defaultPrinterName() override { return defaultName; }

    std::vector<std::string> names;
    std::string defaultName;
};
