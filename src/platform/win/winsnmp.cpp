#include "platform/printerstatus.h"

namespace {

// The Windows build carries no SNMP library: every printer is one that does
// not answer, which --check and --wait already treat as sent unchecked.
class NoAgent final : public PrinterAgent
{
public:
    PrinterStatus ask(const std::stop_token &stop) override
    {
        PrinterStatus status;
        status.outcome = stop.stop_requested() ? SendOutcome::Cancelled : SendOutcome::ConnectionFailed;
        status.sentence = "this build asks no printer over SNMP";
        return status;
    }
};

} // namespace

std::unique_ptr<PrinterAgent> createPrinterAgent(const std::string &, int, const std::string &)
{
    return std::make_unique<NoAgent>();
}
