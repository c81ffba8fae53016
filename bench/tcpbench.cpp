// Sends one file with the program's TCP sender and reports what it cost:
//   varnet_tcpbench FILE HOST PORT
// prints "seconds=... rss_start_kib=... rss_peak_kib=..." and exits 0 when
// the whole file went out and the connection closed gracefully.
#include "core/tcpblocksender.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

qint64 statusKib(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: varnet_tcpbench FILE HOST PORT\n");
        return 2;
    }

    const qint64 rssStart = statusKib("VmRSS");
    TcpBlockSender sender;
    QElapsedTimer clock;
    QObject::connect(&sender, &TcpBlockSender::allQueued, &sender, &TcpBlockSender::close);
    QObject::connect(&sender, &TcpBlockSender::finished, &app, [&](bool ok) {
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        if (!ok)
            std::fprintf(stderr, "%s\n", qPrintable(sender.failureReason()));
        std::printf("seconds=%.3f bytes=%lld rss_start_kib=%lld rss_peak_kib=%lld\n", seconds,
                    static_cast<long long>(sender.count()), static_cast<long long>(rssStart),
                    static_cast<long long>(statusKib("VmHWM")));
        QCoreApplication::exit(ok ? 0 : 1);
    });
    clock.start();
    sender.start(args.at(1), args.at(2), args.at(3));
    return QCoreApplication::exec();
}
