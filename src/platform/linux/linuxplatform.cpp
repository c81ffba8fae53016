#include "platform/platform.h"

#include <sys/mman.h>
#include <unistd.h>

namespace platform {

std::string commandLineText(int argc, char **argv)
{
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
    return text;
}

std::uint32_t systemColor(SystemColor)
{
    // Both colours we use are the same grey in the classic desktop scheme.
    return 0xD4D0C8;
}

void adviseLargeBuffer(void *data, std::size_t size)
{
    // madvise wants whole pages; the ends of the buffer may share theirs.
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(page - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
}

} // namespace platform
