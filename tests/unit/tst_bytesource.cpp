#include "core/localpath.h"
#include "core/bytesource.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include "testdata.h"

#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray drain(SourceReader &reader, qint64 chunk)
{
    QByteArray all;
    for (;;) {
        const QByteArray part = reader.read(chunk, true);
        if (part.isEmpty())
            return all;
        all += part;
    }
}

} // namespace

class TestByteSource : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QByteArray m_oddName; // Qt could not remove it by its name

private slots:
    void cleanupTestCase() { ::unlink(m_oddName.constData()); }

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

    void fileChangedWhileRead_data()
    {
        QTest::addColumn<qint64>("newSize");
        QTest::addColumn<QString>("reason");
        QTest::newRow("cut short") << qint64(100000) << "it had 300000 bytes when the send began, and ended after 100000.";
        QTest::newRow("cut below what was read") << qint64(1000) << "it had 300000 bytes when the send began, and ended after 1000.";
        QTest::newRow("grown") << qint64(300001) << "grew during the send beyond the 300000 bytes";
    }

    void fileChangedWhileRead()
    {
        QFETCH(qint64, newSize);
        QFETCH(QString, reason);
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write(randomBytes(300000));
        file.flush();
        QString error;
        const auto source = ByteSource::open(file.fileName(), &error);
        QVERIFY2(source, qPrintable(error));
        auto reader = source->makeReader();
        QCOMPARE(reader->read(65536, true).size(), 65536);
        QVERIFY(file.resize(newSize));
        drain(*reader, 65536);
        QVERIFY(reader->atEnd());
        QVERIFY2(reader->error().contains(reason), qPrintable(reader->error()));
    }

    // Inputs whose size says nothing are read once, to their end, and
    // shared; a name that is not UTF-8 is opened all the same.
    void inputsReadOnce_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("fifo");       // written by a writer that comes after the opening
        QTest::addColumn<bool>("replayable"); // kept whole first
        QTest::addColumn<qint64>("size");

        QFile proc(QStringLiteral("/proc/version"));
        QVERIFY(proc.open(QIODevice::ReadOnly));
        const QByteArray version = proc.readAll();
        const QByteArray data = randomBytes(200000, 9);
        const QString fifo = m_dir.filePath(QStringLiteral("fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QByteArray &oddName = m_oddName = QFile::encodeName(m_dir.path()) + "/a\xff\x80" "b.bin";
        const int fd = ::open(oddName.constData(), O_WRONLY | O_CREAT, 0600);
        QVERIFY(fd >= 0 && ::write(fd, data.constData(), static_cast<size_t>(data.size())) == data.size());
        ::close(fd);

        QTest::newRow("file of /proc") << "/proc/version" << version << false << false << qint64(-1);
        QTest::newRow("file of /proc, kept") << "/proc/version" << version << false << true
                                             << qint64(version.size());
        QTest::newRow("FIFO, writer comes later") << fifo << data << true << false << qint64(-1);
        QTest::newRow("FIFO, writer comes later, kept") << fifo << data << true << true << qint64(data.size());
        QTest::newRow("name not UTF-8") << LocalPath::fromBytes(oddName) << data << false << false
                                        << qint64(data.size());
    }

    void inputsReadOnce()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, content);
        QFETCH(bool, fifo);
        QFETCH(bool, replayable);
        QFETCH(qint64, size);

        std::jthread writer([&] {
            if (!fifo)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            // Without a reader this open fails rather than waits.
            int fd = -1;
            for (int tries = 0; fd < 0 && tries < 100; ++tries) {
                fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
                if (fd < 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            if (fd < 0)
                return;
            ::fcntl(fd, F_SETFL, 0);
            [[maybe_unused]] const ssize_t put = ::write(fd, content.constData(), static_cast<size_t>(content.size()));
            ::close(fd);
        });
        QString error;
        ByteSource::OpenOptions options;
        options.replayable = replayable;
        const auto source = ByteSource::open(path, &error, options);
        QVERIFY2(source, qPrintable(error));
        QCOMPARE(source->size(), size);
        auto first = source->makeReader();
        auto second = source->makeReader();
        source->start();
        auto firstRead = std::async(std::launch::async, [&first] { return drain(*first, 4096); });
        auto secondRead = std::async(std::launch::async, [&second] { return drain(*second, 65536); });
        QVERIFY2(firstRead.wait_for(std::chrono::seconds(30)) == std::future_status::ready &&
                     secondRead.wait_for(std::chrono::seconds(30)) == std::future_status::ready,
                 "the readers did not reach the input's end");
        QCOMPARE(firstRead.get(), content);
        QCOMPARE(secondRead.get(), content);
        QCOMPARE(source->knownLength(), content.size());
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
