#include "app/printers/printercollection.h"

#include <cups/cups.h>

namespace {

class CupsPrinterCollection final : public PrinterCollection
{
public:
    std::vector<std::string> deviceNames() override
    {
        std::vector<std::string> names;
        cups_dest_t *dests = nullptr;
        const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
        for (int i = 0; i < count; ++i) {
            // Instances (printer/instance) are option sets of one queue, not queues.
            if (dests[i].instance == nullptr)
                names.emplace_back(dests[i].name);
        }
        cupsFreeDests(count, dests);
        return names;
    }

    std::string defaultPrinterName() override
    {
        cups_dest_t *dests = nullptr;
        const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
        std::string name;
        if (const cups_dest_t *dest = cupsGetDest(nullptr, nullptr, count, dests))
            name = dest->name;
        cupsFreeDests(count, dests);
        return name;
    }
};

} // namespace

std::unique_ptr<PrinterCollection> createSystemPrinterCollection()
{
    return std::make_unique<CupsPrinterCollection>();
}
