#include "platform/platform.h"
#include "wintext.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

namespace platform {

std::string commandLineText(int, char **)
{
    return toUtf8(commandLineTail(GetCommandLineW()));
}

std::uint32_t systemColor(SystemColor index)
{
    const DWORD bgr = GetSysColor(static_cast<int>(index));
    return (static_cast<std::uint32_t>(GetRValue(bgr)) << 16) |
           (static_cast<std::uint32_t>(GetGValue(bgr)) << 8) | GetBValue(bgr);
}

void adviseLargeBuffer(void *, std::size_t)
{
    // Large pages need a privilege ordinary users lack; nothing to advise.
}

FileStatus fileStatus(const std::string &name)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (name.empty() || !GetFileAttributesExW(toWide(name).c_str(), GetFileExInfoStandard, &data))
        return {};
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Whatever exists may be read as far as its attributes tell; the open says otherwise.
    return {true, folder, !folder, true};
}

int openRegularFile(const std::string &name, std::string *why)
{
    if (name.empty() || fileStatus(name).isFolder) {
        *why = name.empty() ? "no file was named" : "it is a folder";
        return -1;
    }
    const HANDLE file =
        CreateFileW(toWide(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *why = systemErrorText(GetLastError());
        return -1;
    }
    // A named pipe or a device would make every read wait on its writer.
    const int fd = GetFileType(file) == FILE_TYPE_DISK
                       ? _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY)
                       : -1;
    if (fd < 0) {
        CloseHandle(file);
        *why = "it is not an ordinary file";
    }
    return fd;
}

void closeFile(int descriptor)
{
    _close(descriptor);
}

const bool starDotStarMeansAll = true;
const bool settingsInRegistry = true;
const bool ippDirect = false;

} // namespace platform
