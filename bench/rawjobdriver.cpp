// Drives the printer-queue path without a window: loads the file into memory
// as the program does and sends it as one raw job through the system spooler.
// Prints the two phases' durations in nanoseconds: "LOAD SEND".
//   varnet_rawjob_bench QUEUE FILE

#include "core/fileloader.h"
#include "platform/spooler.h"
#include "core/rawjob.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s QUEUE FILE\n", argv[0]);
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const FileLoader::Result loaded = FileLoader::load(QString::fromLocal8Bit(argv[2]));
    if (loaded.outcome != SendOutcome::Delivered) {
        std::fprintf(stderr, "cannot load %s\n", argv[2]);
        return 2;
    }
    const QByteArray &content = loaded.content;

    const Clock::time_point inMemory = Clock::now();
    const auto spooler = createSystemSpooler();
    const RawJobOutcome outcome = sendRawJob(
        *spooler, argv[1], std::string_view(content.constData(), static_cast<std::size_t>(content.size())));
    if (outcome.outcome != SendOutcome::Delivered) {
        std::fprintf(stderr, "not sent: %s\n", outcome.sentence.c_str());
        return 1;
    }
    const Clock::time_point sent = Clock::now();
    const auto nanoseconds = [](Clock::duration span) {
        return static_cast<long long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(span).count());
    };
    std::printf("%lld %lld\n", nanoseconds(inMemory - start), nanoseconds(sent - inMemory));
    return 0;
}
