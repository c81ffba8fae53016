#include "platform/printercollection.h"

#include "cupsconnection.h"

namespace {

// Listing the queues is a quick question for a scheduler on this machine;
// one that takes longer is treated as unreachable rather than holding up
// the window.
constexpr int ListTimeoutMs = 10000;

class CupsPrinterCollection final : public PrinterCollection
{
public:
    std::vector<std::string> deviceNames() override
    {
        std::vector<std::string> names;
        withDestinations([&names](int count, cups_dest_t *dests) {
            for (int i = 0; i < count; ++i) {
                // Instances (printer/instance) are option sets of one queue, not queues.
                if (dests[i].instance == nullptr)
                    names.emplace_back(dests[i].name);
            }
        });
        return names;
    }

    std::string defaultPrinterName() override
    {
        std::string name;
        withDestinations([&name](int count, cups_dest_t *dests) {
            if (const cups_dest_t *dest = cupsGetDest(nullptr, nullptr, count, dests))
                name = dest->name;
        });
        return name;
    }

private:
    // A scheduler that cannot be reached, or does not answer in time, has no queues.
    template<typename Use>
    static void withDestinations(const Use &use)
    {
        CupsConnection connection({ListTimeoutMs, ListTimeoutMs, nullptr});
        if (!connection.openScheduler())
            return;
        cups_dest_t *dests = nullptr;
        const int count = cupsGetDests2(connection.call(), &dests);
        use(count, dests);
        cupsFreeDests(count, dests);
    }
};

} // namespace

std::unique_ptr<PrinterCollection> createSystemPrinterCollection()
{
    return std::make_unique<CupsPrinterCollection>();
}
