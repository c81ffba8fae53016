#include "platform/printercollection.h"
#include "wintext.h"

#include <windows.h>
#include <winspool.h>

#include <vector>

namespace {

class WinPrinterCollection final : public PrinterCollection
{
public:
    std::vector<std::string> deviceNames() override
    {
        std::vector<std::string> names;
        m_unreachable.clear();
        const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
        DWORD needed = 0;
        DWORD returned = 0;
        // Asking the size fails for the missing buffer; anything else: the service stopped.
        if (!EnumPrintersW(flags, nullptr, 4, nullptr, 0, &needed, &returned) &&
            GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            m_unreachable = systemErrorText(GetLastError());
        if (needed == 0)
            return names;
        std::vector<BYTE> buffer(needed);
        if (!EnumPrintersW(flags, nullptr, 4, buffer.data(), needed, &needed, &returned)) {
            m_unreachable = systemErrorText(GetLastError());
            return names;
        }
        const auto *info = reinterpret_cast<const PRINTER_INFO_4W *>(buffer.data());
        for (DWORD i = 0; i < returned; ++i)
            names.push_back(toUtf8(info[i].pPrinterName));
        return names;
    }

    std::string defaultPrinterName() override
    {
        DWORD size = 0;
        GetDefaultPrinterW(nullptr, &size);
        if (size == 0)
            return {};
        std::wstring name(size, L'\0');
        if (!GetDefaultPrinterW(name.data(), &size))
            return {};
        name.resize(size > 0 ? size - 1 : 0);
        return toUtf8(name);
    }

    std::string unreachableReason() const override { return m_unreachable; }

private:
    std::string m_unreachable;
};

} // namespace

std::unique_ptr<PrinterCollection> createSystemPrinterCollection()
{
    return std::make_unique<WinPrinterCollection>();
}
