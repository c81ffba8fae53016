#include "platform/fileaccess.h"
#include "platform/platform.h"
#include "wintext.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <io.h>

// A length of 0 makes the library fail, which gives the empty string too.
std::wstring toWide(std::string_view utf8)
{
    const int size = static_cast<int>(utf8.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(needed, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), needed);
    return wide;
}

std::string toUtf8(std::wstring_view wide)
{
    const int size = static_cast<int>(wide.size());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(std::max(needed, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), needed, nullptr, nullptr);
    return utf8;
}

std::string systemErrorText(unsigned long code)
{
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    std::wstring text = length ? std::wstring(buffer, length) : std::wstring();
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    if (text.empty())
        return "error " + std::to_string(code);
    return toUtf8(text);
}

std::wstring commandLineTail(const wchar_t *commandLine)
{
    if (!commandLine)
        return {};
    const wchar_t *p = commandLine;
    // The program name: quotes toggle, and only a blank outside quotes ends it.
    bool quoted = false;
    while (*p && (quoted || (*p != L' ' && *p != L'\t'))) {
        if (*p == L'"')
            quoted = !quoted;
        ++p;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    return std::wstring(p);
}

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

const bool starDotStarMeansAll = true;
const bool settingsInRegistry = true;
const bool ippDirect = false;
const bool snmpAgent = false;

bool noDisplay()
{
    return false;
}

std::string userName()
{
    wchar_t name[257]; // the longest name Windows allows, and its end
    DWORD size = 257;
    return GetUserNameW(name, &size) ? toUtf8(name) : std::string();
}

} // namespace platform

namespace platform::file {

namespace {

HANDLE handleOf(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

} // namespace

Status status(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path.empty() || !GetFileAttributesExW(toWide(path).c_str(), GetFileExInfoStandard, &data))
        return {};
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Whatever exists may be read as far as its attributes tell; the open says otherwise.
    return {true, folder, !folder, true};
}

int openForReading(const std::string &path, int *error)
{
    const int fd = path.empty() ? -1 : _wopen(toWide(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0)
        *error = path.empty() ? ENOENT : errno;
    return fd;
}

int duplicate(int fd)
{
    return _dup(fd);
}

void close(int fd)
{
    _close(fd);
}

bool inspect(int fd, Kind *kind, Stamp *stamp, int *error)
{
    const HANDLE handle = handleOf(fd);
    FILE_BASIC_INFO basic {};
    LARGE_INTEGER size {};
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        *kind = Kind::Other;
        *stamp = {};
        return true;
    }
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
        !GetFileSizeEx(handle, &size)) {
        *error = EIO;
        return false;
    }
    *kind = (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Folder : Kind::Regular;
    // In units of 100 ns; only equality matters here.
    *stamp = {size.QuadPart, basic.LastWriteTime.QuadPart * 100, basic.ChangeTime.QuadPart * 100};
    return true;
}

long long position(int fd)
{
    return _lseeki64(fd, 0, SEEK_CUR);
}

long long readAt(int fd, char *data, std::size_t size, long long offset, int *error)
{
    OVERLAPPED at {};
    at.Offset = static_cast<DWORD>(static_cast<unsigned long long>(offset) & 0xffffffffu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
    DWORD got = 0;
    const DWORD wanted = size > INT_MAX ? INT_MAX : static_cast<DWORD>(size);
    if (ReadFile(handleOf(fd), data, wanted, &got, &at))
        return got;
    if (GetLastError() == ERROR_HANDLE_EOF)
        return 0;
    *error = EIO;
    return -1;
}

long long readWhenReady(int fd, char *data, std::size_t size, int, int *error)
{
    const int got = _read(fd, data, size > INT_MAX ? INT_MAX : static_cast<unsigned>(size));
    if (got < 0)
        *error = errno;
    return got;
}

bool writeAll(int fd, const char *data, std::size_t size, int *error)
{
    for (std::size_t written = 0; written < size;) {
        const std::size_t left = size - written;
        const int put = _write(fd, data + written, left > INT_MAX ? INT_MAX : static_cast<unsigned>(left));
        if (put <= 0) {
            *error = put < 0 ? errno : ENOSPC;
            return false;
        }
        written += static_cast<std::size_t>(put);
    }
    return true;
}

int makeUnnamed(const std::string &folder, int *error)
{
    wchar_t name[MAX_PATH];
    if (!GetTempFileNameW(toWide(folder).c_str(), L"vns", 0, name)) {
        *error = EACCES;
        return -1;
    }
    // Gone with its last handle, however the program ends.
    const HANDLE handle = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = EACCES;
        return -1;
    }
    return _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
}

} // namespace platform::file
