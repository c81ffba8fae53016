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
        list();
        return m_names;
    }

    std::string defaultPrinterName() override
    {
        list();
        return m_default;
    }

    std::string unreachableReason() const override { return m_unreachable; }

private:
    // A scheduler that cannot be reached, or does not answer in time, has no
    // queues; the reason is kept for whoever wants to say so.
    void list()
    {
        m_names.clear();
        m_default.clear();
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
        // Instances (printer/instance) are option sets of one queue, not queues.
        for (int i = 0; i < count; ++i) {
            if (dests[i].instance == nullptr)
                m_names.emplace_back(dests[i].name);
        }
        if (const cups_dest_t *dest = cupsGetDest(nullptr, nullptr, count, dests))
            m_default = dest->name;
        cupsFreeDests(count, dests);
    }

    std::vector<std::string> m_names;
    std::string m_default;
    std::string m_unreachable;
};

} // namespace

std::unique_ptr<PrinterCollection> createSystemPrinterCollection()
{
    return std::make_unique<CupsPrinterCollection>();
}
