#include "send/bytesource.h"

#include <QRandomGenerator>
#include <QTemporaryFile>
#include <QTest>

#include <future>
#include <thread>

#include <unistd.h>

namespace {

QByteArray randomBytes(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = static_cast<char>(generator.bounded(256));
    return data;
}

QByteArray drain(SourceReader &reader, qint64 chunk)
{
    QByteArray all;
    for (;;) {
        const QByteArray part = reader.readBlocking(chunk);
        if (part.isEmpty())
            return all;
        all += part;
    }
}

} // namespace

class TestByteSource : public QObject
{
    Q_OBJECT

private slots:
    void fileReadersAreIndependent()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        const QByteArray data = randomBytes(300000);
        file.write(data);
        file.flush();

        QString error;
        const auto source = ByteSource::open(file.fileName(), &error);
        QVERIFY2(source, qPrintable(error));
        QCOMPARE(source->size(), data.size());
        auto first = source->makeReader();
        auto second = source->makeReader();
        source->start();
        QCOMPARE(drain(*first, 7000), data);
        QCOMPARE(drain(*second, 65536), data);
        QVERIFY(first->atEnd());
        QVERIFY(first->error().isEmpty());
    }

    void unreadableInputs_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << QStringLiteral("/nonexistent/varnet/file");
        QTest::newRow("folder") << QStringLiteral("/tmp");
    }

    void unreadableInputs()
    {
        QFETCH(QString, path);
        QString error;
        QVERIFY(!ByteSource::open(path, &error));
        QVERIFY(error.contains(path));
    }

    void streamReachesEveryReader_data()
    {
        QTest::addColumn<int>("readers");
        QTest::addColumn<qint64>("window");
        QTest::newRow("one reader, small window") << 1 << qint64(4096);
        QTest::newRow("three readers") << 3 << qint64(256 * 1024);
        QTest::newRow("empty input") << 2 << qint64(4096);
    }

    void streamReachesEveryReader()
    {
        QFETCH(int, readers);
        QFETCH(qint64, window);
        const QByteArray data =
            QByteArray(QTest::currentDataTag()) == "empty input" ? QByteArray() : randomBytes(3 << 20);

        int fds[2];
        QVERIFY(::pipe(fds) == 0);
        auto source = ByteSource::fromDescriptor(fds[0], window);
        QCOMPARE(source->size(), -1);
        std::vector<std::unique_ptr<SourceReader>> all;
        for (int i = 0; i < readers; ++i)
            all.push_back(source->makeReader());
        source->start();

        std::thread writer([&] {
            qsizetype written = 0;
            while (written < data.size()) {
                const ssize_t got = ::write(fds[1], data.constData() + written,
                                            static_cast<size_t>(data.size() - written));
                if (got <= 0)
                    break;
                written += got;
            }
            ::close(fds[1]);
        });
        std::vector<std::future<QByteArray>> results;
        for (auto &reader : all)
            results.push_back(std::async(std::launch::async, [&reader] { return drain(*reader, 10000); }));
        for (auto &result : results) {
            QVERIFY(result.wait_for(std::chrono::seconds(30)) == std::future_status::ready);
            QCOMPARE(result.get(), data);
        }
        writer.join();
        ::close(fds[0]);
    }

    void readerThatGivesUpDoesNotHoldBackOthers()
    {
        const QByteArray data = randomBytes(1 << 20);
        int fds[2];
        QVERIFY(::pipe(fds) == 0);
        auto source = ByteSource::fromDescriptor(fds[0], 8192);
        auto keeps = source->makeReader();
        auto quits = source->makeReader();
        source->start();
        std::thread writer([&] {
            [[maybe_unused]] const ssize_t got = ::write(fds[1], data.constData(), static_cast<size_t>(data.size()));
            ::close(fds[1]);
        });
        quits.reset(); // never reads a byte
        auto result = std::async(std::launch::async, [&keeps] { return drain(*keeps, 4096); });
        QVERIFY(result.wait_for(std::chrono::seconds(30)) == std::future_status::ready);
        QCOMPARE(result.get(), data);
        writer.join();
        ::close(fds[0]);
    }
};

QTEST_GUILESS_MAIN(TestByteSource)
#include "tst_bytesource.moc"
