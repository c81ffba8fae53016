// The Windows backends, run for real: cross-compiled with MinGW and started
// under Wine by tests/win/wine-tests.sh, whose private cupsd stands behind
// Wine's print spooler. Plain C++ without Qt, like the code it tests.
//
//   tst_winplatform.exe [--printer NAME]... [--default NAME]
//                       [--send QUEUE FILE]... [--send-fails QUEUE FILE]...
//                       [--open-fails NAME]...
//
// --default turns on the printer-list case: the names given with --printer
// (in any order) and the default must be what the system reports. --send
// prints FILE to QUEUE with the program's raw-job sequence through the
// Windows spooler backend and expects every step to succeed (the script then
// checks what the queue's printer received); --send-fails expects the job to
// fail with a reason, --open-fails expects the name not to open. FILE is a
// Windows path. The last output line is "N passed, M failed"; the exit code
// is 0 only without failures.

#include "platform/fileaccess.h"
#include "platform/platform.h"
#include "platform/printercollection.h"
#include "platform/spooler.h"
#include "platform/tcpconnection.h"
#include "platform/win/wintext.h"
#include "core/rawjob.h"

#include <winsock2.h>
#include <windows.h>

#include <io.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

int passedCount = 0;
int failedCount = 0;

void check(bool ok, const std::string &name, const std::string &detail = {})
{
    if (ok) {
        ++passedCount;
        std::printf("PASS %s\n", name.c_str());
    } else {
        ++failedCount;
        std::printf("FAIL %s%s%s\n", name.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    }
}

void checkEqual(const std::string &actual, const std::string &expected, const std::string &name)
{
    check(actual == expected, name, "got [" + actual + "], expected [" + expected + "]");
}

std::string joined(const std::vector<std::string> &names)
{
    std::string text;
    for (const std::string &name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

void testCommandLineTail()
{
    struct Row
    {
        const char *name;
        const wchar_t *line;
        const wchar_t *tail;
    };
    const Row rows[] = {
        {"no command line", nullptr, L""},
        {"empty command line", L"", L""},
        {"name only", L"varnet.exe", L""},
        {"quoted name only", L"\"C:\\Program Files\\varnet.exe\"", L""},
        {"blanks after the name only", L"varnet.exe   ", L""},
        {"tab separates", L"varnet.exe\tjob.prn", L"job.prn"},
        {"blanks inside the tail kept", L"varnet.exe  a  b\t c ", L"a  b\t c "},
        // The system's parser lets a quote only toggle, so text glued to a
        // closing quote still belongs to the program name.
        {"text glued to the quoted name", L"\"C:\\a b\\varnet.exe\"x job.prn", L"job.prn"},
        {"quote inside an unquoted name", L"C:\\a\"b c\"\\varnet.exe job.prn", L"job.prn"},
    };
    for (const Row &row : rows) {
        const std::wstring tail = commandLineTail(row.line);
        checkEqual(toUtf8(tail), toUtf8(row.tail), std::string("commandLineTail: ") + row.name);
    }
}

std::wstring ownPath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// A child started with VARNET_TAIL_FILE set writes what commandLineText sees
// there and ends; the process is this program again, under a command line of
// our choosing, so the text comes from the system exactly as given.
constexpr wchar_t TailFileVariable[] = L"VARNET_TAIL_FILE";

int writeTail(const wchar_t *file)
{
    // The Windows implementation reads the process's own command line.
    const std::string text = platform::commandLineText(0, nullptr);
    FILE *out = _wfopen(file, L"wb");
    if (!out)
        return 3;
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && written ? 0 : 4;
}

bool tailSeenByChild(const std::wstring &commandLine, std::string &tail, std::string &problem)
{
    wchar_t folder[MAX_PATH];
    wchar_t file[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, folder) || !GetTempFileNameW(folder, L"vnt", 0, file)) {
        problem = "no temporary file: " + systemErrorText(GetLastError());
        return false;
    }
    SetEnvironmentVariableW(TailFileVariable, file);
    std::wstring mutableLine = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const std::wstring application = ownPath();
    const BOOL started = CreateProcessW(application.c_str(), mutableLine.data(), nullptr, nullptr,
                                        FALSE, 0, nullptr, nullptr, &startup, &process);
    const DWORD startError = GetLastError();
    SetEnvironmentVariableW(TailFileVariable, nullptr);
    bool ok = false;
    if (!started) {
        problem = "CreateProcessW: " + systemErrorText(startError);
    } else {
        DWORD exitCode = 1;
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
            problem = "child did not end";
        else if (!GetExitCodeProcess(process.hProcess, &exitCode) || exitCode != 0)
            problem = "child ended with " + std::to_string(exitCode);
        else if (FILE *in = _wfopen(file, L"rb")) {
            tail.clear();
            char buffer[512];
            std::size_t got = 0;
            while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
                tail.append(buffer, got);
            std::fclose(in);
            ok = true;
        } else {
            problem = "child wrote nothing";
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    DeleteFileW(file);
    return ok;
}

void testCommandLineText()
{
    struct Row
    {
        const char *name;
        const wchar_t *line;
        const char *text;
    };
    // The program name in a command line is whatever the starter wrote; the
    // process image comes from CreateProcessW's first argument.
    const Row rows[] = {
        {"quoted path with blanks, unquoted file with blanks",
         L"\"C:\\Program Files\\Varnet\\varnet.exe\" C:\\jobs\\label one.prn",
         "C:\\jobs\\label one.prn"},
        {"plain name, quoted file", L"varnet.exe \"C:\\my jobs\\label.zpl\"",
         "\"C:\\my jobs\\label.zpl\""},
        {"unquoted path, no arguments", L"C:\\Varnet\\varnet.exe", ""},
        {"arguments with quotes and trailing blanks",
         L"\"C:\\Program Files\\varnet.exe\"   say \"a \\\"b\\\" c\" \"\"  ",
         "say \"a \\\"b\\\" c\" \"\"  "},
        {"non-ASCII text as UTF-8", L"\"C:\\\u00dcbung\\varnet.exe\" Stra\u00dfe\\\u03a9.prn",
         "Stra\xc3\x9f" "e\\\xce\xa9.prn"},
    };
    for (const Row &row : rows) {
        std::string tail;
        std::string problem;
        const std::string name = std::string("commandLineText: ") + row.name;
        if (tailSeenByChild(row.line, tail, problem))
            checkEqual(tail, row.text, name);
        else
            check(false, name, problem);
    }
}

std::string hexColor(std::uint32_t color)
{
    char text[16];
    std::snprintf(text, sizeof text, "%06x", static_cast<unsigned>(color));
    return text;
}

void testSystemColors()
{
    // Values whose red and blue differ, so a swapped byte order shows.
    const int indexes[] = {COLOR_SCROLLBAR, COLOR_ACTIVEBORDER};
    const COLORREF previous[] = {GetSysColor(COLOR_SCROLLBAR), GetSysColor(COLOR_ACTIVEBORDER)};
    const COLORREF probes[] = {RGB(0x12, 0x34, 0x56), RGB(0xab, 0xcd, 0xef)};
    if (!SetSysColors(2, indexes, probes)) {
        check(false, "systemColor", "SetSysColors: " + systemErrorText(GetLastError()));
        return;
    }
    checkEqual(hexColor(platform::systemColor(platform::ColorScrollBar)), "123456",
               "systemColor: scroll bar as 0xRRGGBB");
    checkEqual(hexColor(platform::systemColor(platform::ColorActiveBorder)), "abcdef",
               "systemColor: active border as 0xRRGGBB");
    // The colours are kept in the prefix's registry; leave them as found.
    SetSysColors(2, indexes, previous);
}

void testPrinters(std::vector<std::string> expected, const std::string &expectedDefault)
{
    const std::unique_ptr<PrinterCollection> printers = createSystemPrinterCollection();
    std::vector<std::string> names = printers->deviceNames();
    std::sort(names.begin(), names.end());
    std::sort(expected.begin(), expected.end());
    checkEqual(joined(names), joined(expected), "printers: the queues the scheduler lists");
    checkEqual(printers->defaultPrinterName(), expectedDefault, "printers: the default queue");
}

bool readFile(const std::string &path, std::string &content)
{
    FILE *in = _wfopen(toWide(path).c_str(), L"rb");
    if (!in)
        return false;
    content.clear();
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        content.append(buffer, got);
    const bool ok = !std::ferror(in);
    std::fclose(in);
    return ok;
}

// A reason the user can act on: present, and not the system's text for "no error".
bool meaningfulReason(const std::string &reason)
{
    return !reason.empty() && reason != systemErrorText(ERROR_SUCCESS);
}

void testSend(const std::string &queue, const std::string &file, bool shouldFail)
{
    const std::string name =
        std::string(shouldFail ? "spooler: job to refusing queue " : "spooler: job to queue ") +
        queue + " (" + file + ")";
    std::string content;
    if (!readFile(file, content)) {
        check(false, name, "cannot read the file");
        return;
    }
    // The program's own raw-job sequence, against the Windows spooler.
    const std::unique_ptr<Spooler> spooler = createSystemSpooler();
    const RawJobOutcome result = sendRawJob(*spooler, queue, content);
    if (!shouldFail) {
        check(result.outcome == SendOutcome::Delivered, name + " goes through",
              "failed: " + result.sentence);
        check(result.jobId > 0, name + " has a job number",
              "jobId " + std::to_string(result.jobId));
        return;
    }
    check(result.outcome != SendOutcome::Delivered, name + " fails", "every step succeeded");
    if (result.outcome != SendOutcome::Delivered)
        check(meaningfulReason(result.sentence),
              name + " fails with a reason [" + result.sentence + "]");
}

void testOpenFails(const std::string &printerName)
{
    const std::unique_ptr<Spooler> spooler = createSystemSpooler();
    const std::string name = "spooler: \"" + printerName + "\" does not open";
    const bool opened = spooler->open(printerName);
    check(!opened, name);
    if (!opened)
        check(meaningfulReason(spooler->failure().sentence),
              name + ", with a reason [" + spooler->failure().sentence + "]");
    spooler->close();
}

} // namespace

// File names are UTF-8; a missing file is refused with a reason.
void testFiles()
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::string dir = toUtf8(folder);
    const std::string file = dir + "varnet \xc3\xa9.prn";
    if (std::FILE *out = _wfopen(toWide(file).c_str(), L"wb")) {
        std::fputs("a\r\nb", out);
        std::fclose(out);
    }
    namespace files = platform::file;
    const files::Status plain = files::status(file);
    const files::Status directory = files::status(dir);
    check(plain.exists && plain.isRegular && plain.readable && !plain.isFolder &&
              directory.isFolder && !files::status(dir + "missing").exists,
          "files: status");
    int error = 0;
    const int fd = files::openForReading(file, &error);
    files::Kind kind = files::Kind::Other;
    files::Stamp stamp;
    char content[8] = {};
    check(fd >= 0 && files::inspect(fd, &kind, &stamp, &error) && kind == files::Kind::Regular &&
              stamp.size == 4 && files::readAt(fd, content, sizeof content, 0, &error) == 4 &&
              std::string(content) == "a\r\nb",
          "files: a plain file opens and reads unchanged", files::errorText(error));
    if (fd >= 0)
        files::close(fd);
    error = 0;
    check(files::openForReading(dir + "missing", &error) < 0 && error != 0,
          "files: a missing file is refused with the system's reason");
    _wremove(toWide(file).c_str());
}

bool waitFor(platform::tcp::Socket socket, short events)
{
    WSAPOLLFD entry{};
    entry.fd = static_cast<SOCKET>(socket);
    entry.events = events;
    return WSAPoll(&entry, 1, 5000) == 1;
}

// A listener of our own on loopback stands for the printer, so the Winsock
// backend meets an orderly close, a reset and a refusal for real: the sender
// relies on telling the first two apart.
void testTcpConnection()
{
    namespace tcp = platform::tcp;
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    for (const bool reset : {false, true}) {
        const std::string name = reset ? "tcp, printer resets" : "tcp, printer closes in order";
        const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
        const std::uint16_t port = ntohs(address.sin_port);

        tcp::Result result;
        const tcp::Socket client = tcp::startConnect("127.0.0.1", port, &result);
        const SOCKET peer = ::accept(listener, nullptr, nullptr);
        if (result.status == tcp::Status::WouldBlock && waitFor(client, POLLWRNORM))
            result = tcp::finishConnect(client);
        check(result.status == tcp::Status::Done, name + ": connects",
              "error " + std::to_string(result.error));
        result = tcp::send(client, "job", 3);
        char buffer[16];
        check(result.status == tcp::Status::Done && result.bytes == 3 &&
                  ::recv(peer, buffer, sizeof buffer, 0) == 3,
              name + ": the printer gets the bytes");
        check(tcp::shutdownSending(client) && ::recv(peer, buffer, sizeof buffer, 0) == 0,
              name + ": the printer reads the end of the job");
        if (reset) {
            linger hard{};
            hard.l_onoff = 1;
            ::setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&hard),
                         sizeof hard);
        }
        ::closesocket(peer);
        waitFor(client, POLLRDNORM);
        result = tcp::receive(client, buffer, sizeof buffer);
        check(result.status == (reset ? tcp::Status::Reset : tcp::Status::EndOfStream),
              name + ": the sender can tell",
              "status " + std::to_string(static_cast<int>(result.status)) + ", error " +
                  std::to_string(result.error));
        check(tcp::pendingError(client) == (reset ? WSAECONNRESET : 0),
              name + ": the socket's error says so too");
        tcp::closeGracefully(client);
        ::closesocket(listener);

        if (reset) {
            // Nobody listens there now.
            const tcp::Socket refused = tcp::startConnect("127.0.0.1", port, &result);
            if (result.status == tcp::Status::WouldBlock) {
                waitFor(refused, POLLWRNORM);
                result = tcp::finishConnect(refused);
            }
            if (refused != tcp::NoSocket)
                tcp::closeAbortively(refused);
            check(result.status == tcp::Status::Failed && result.error == WSAECONNREFUSED,
                  "tcp, nobody listens: refused", tcp::errorText(result.error));
        }
    }
}

int wmain(int argc, wchar_t **wideArgv)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(toUtf8(wideArgv[i]));

    if (const wchar_t *tailFile = _wgetenv(TailFileVariable))
        return writeTail(tailFile);

    struct Job
    {
        std::string queue;
        std::string file;
        bool shouldFail;
    };
    std::vector<std::string> expectedPrinters;
    std::string expectedDefault;
    bool printerCase = false;
    std::vector<Job> jobs;
    std::vector<std::string> unopenable;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &option = arguments[i];
        const std::size_t values = arguments.size() - i - 1;
        if (option == "--printer" && values >= 1) {
            expectedPrinters.push_back(arguments[++i]);
        } else if (option == "--default" && values >= 1) {
            expectedDefault = arguments[++i];
            printerCase = true;
        } else if ((option == "--send" || option == "--send-fails") && values >= 2) {
            jobs.push_back({arguments[i + 1], arguments[i + 2], option == "--send-fails"});
            i += 2;
        } else if (option == "--open-fails" && values >= 1) {
            unopenable.push_back(arguments[++i]);
        } else {
            std::printf("unknown or incomplete option %s\n", option.c_str());
            return 2;
        }
    }

    testCommandLineTail();
    testCommandLineText();
    testSystemColors();
    testTcpConnection();
    testFiles();
    if (printerCase)
        testPrinters(expectedPrinters, expectedDefault);
    for (const Job &job : jobs)
        testSend(job.queue, job.file, job.shouldFail);
    for (const std::string &name : unopenable)
        testOpenFails(name);

    std::printf("%d passed, %d failed\n", passedCount, failedCount);
    return failedCount == 0 ? 0 : 1;
}
