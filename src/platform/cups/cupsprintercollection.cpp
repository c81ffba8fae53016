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

    std::string unreachableReason() const override { return m_unreachable; }

private:
    // A scheduler that cannot be reached, or does not answer in time, has no
    // queues; the reason is kept for whoever wants to say so.
    template<typename Use>
    void withDestinations(const Use &use)
    {
        m_unreachable.clear();
        CupsConnection connection({ListTimeoutMs, ListTimeoutMs, nullptr});
        if (!connection.openScheduler()) {
            m_unreachable = connection.failureText(std::string("nothing answers at ") +
                                                   cupsServer());
            return;
        }
        cups_dest_t *dests = nullptr;
        const int count = cupsGetDests2(connection.call(), &dests);
        // No queues at all is an answer too ("not found").
        if (count == 0 && cupsLastError() >= IPP_STATUS_REDIRECTION_OTHER_SITE &&
            cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND)
            m_unreachable = connection.failureText(libraryError("the print scheduler did not answer"));
        use(count, dests);
        cupsFreeDests(count, dests);
    }

    std::string m_unreachable;
};

} // namespace

std::unique_ptr<PrinterCollection> createSystemPrinterCollection()
{
    return std::make_unique<CupsPrinterCollection>();
}
