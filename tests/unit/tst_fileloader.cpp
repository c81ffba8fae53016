#include "core/fileloader.h"
#include "core/localpath.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "testdata.h"

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

Q_DECLARE_METATYPE(SendOutcome)

namespace {

QByteArray everyByteTwice()
{
    QByteArray bytes;
    for (int round = 0; round < 2; ++round)
        for (int value = 0; value < 256; ++value)
            bytes.append(static_cast<char>(value));
    return bytes;
}

} // namespace

class TestFileLoader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QByteArray m_oddName; // Qt could not remove it by its name

    QString write(const QString &name, const QByteArray &content)
    {
        return writeTestFile(m_dir.filePath(name), content);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
    }

    void cleanupTestCase()
    {
#ifdef Q_OS_UNIX
        ::unlink(m_oddName.constData());
#endif
    }

    void load_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<SendOutcome>("outcome");
        QTest::addColumn<QByteArray>("content");

        const QByteArray binary = everyByteTwice() + QByteArray("\0\0\xff", 3);
        QTest::newRow("binary") << write("binary.prn", binary) << SendOutcome::Delivered
                                << binary;
        QTest::newRow("empty") << write("empty.prn", QByteArray()) << SendOutcome::Delivered
                               << QByteArray();
        QTest::newRow("no extension") << write("JOB", "ab") << SendOutcome::Delivered
                                      << QByteArray("ab");
        QTest::newRow("missing") << m_dir.filePath("missing.prn")
                                 << SendOutcome::InputUnreadable << QByteArray();
        QTest::newRow("folder") << m_dir.path() << SendOutcome::InputUnreadable << QByteArray();
        QTest::newRow("empty path") << QString() << SendOutcome::InputUnreadable
                                    << QByteArray();
#ifdef Q_OS_UNIX
        // Opening a pipe for reading would wait for a writer forever.
        const QString fifo = m_dir.filePath("pipe");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QTest::newRow("pipe") << fifo << SendOutcome::InputUnreadable << QByteArray();
        // Its size says 0; its content is read to the end all the same.
        QFile version(QStringLiteral("/proc/version"));
        QVERIFY(version.open(QIODevice::ReadOnly));
        QTest::newRow("file of /proc") << "/proc/version" << SendOutcome::Delivered << version.readAll();
        m_oddName = QFile::encodeName(m_dir.path()) + "/job\xff.prn";
        const int fd = ::open(m_oddName.constData(), O_WRONLY | O_CREAT, 0600);
        QVERIFY(fd >= 0 && ::write(fd, binary.constData(), static_cast<size_t>(binary.size())) == binary.size());
        ::close(fd);
        QTest::newRow("name not UTF-8") << LocalPath::fromBytes(m_oddName) << SendOutcome::Delivered
                                        << binary;
#endif
    }

    void load()
    {
        QFETCH(QString, path);
        QFETCH(SendOutcome, outcome);
        QFETCH(QByteArray, content);

        const FileLoader::Result result = FileLoader::load(path);
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.content, content);
        if (outcome == SendOutcome::Delivered)
            QCOMPARE(result.size, content.size());
        QVERIFY(result.sentence.empty());
    }

    void fileStillOpenForWriting()
    {
        const QString path = m_dir.filePath("growing.prn");
        QFile writer(path);
        QVERIFY(writer.open(QIODevice::WriteOnly));
        QCOMPARE(writer.write("first part"), 10);
        QVERIFY(writer.flush());

        const FileLoader::Result result = FileLoader::load(path);
        QCOMPARE(result.outcome, SendOutcome::Delivered);
        QCOMPARE(result.content, QByteArray("first part"));
        // The writer must be able to go on afterwards.
        QCOMPARE(writer.write(" more"), 5);
        QVERIFY(writer.flush());
        QCOMPARE(FileLoader::load(path).content, QByteArray("first part more"));
    }

    void sizeLimit_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<SendOutcome>("outcome");

        QTest::newRow("2 GiB") << Q_INT64_C(2147483648) << SendOutcome::InputUnreadable;
        QTest::newRow("5 GiB") << Q_INT64_C(5368709120) << SendOutcome::InputUnreadable;
    }

    void sizeLimit()
    {
        QFETCH(qint64, size);
        QFETCH(SendOutcome, outcome);

        // Sparse: the length is real, the disk space is not used.
        // A "%2" in the name must not take the size's place in the message.
        const QString path = m_dir.filePath(QStringLiteral("huge %2 ") + QString::number(size) + ".bin");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size));
        file.close();

        const FileLoader::Result result = FileLoader::load(path);
        QCOMPARE(result.outcome, outcome);
        QVERIFY(result.content.isEmpty());
        QCOMPARE(result.size, size);
        const QString refusal = QString::fromStdString(result.sentence);
        QVERIFY2(refusal.contains(QDir::toNativeSeparators(path)), qPrintable(refusal));
        QVERIFY2(refusal.contains(QString::number(size)), qPrintable(refusal));
        QVERIFY2(refusal.contains(QStringLiteral("2 GiB")), qPrintable(refusal));
        QFile::remove(path);
    }
};

QTEST_GUILESS_MAIN(TestFileLoader)
#include "tst_fileloader.moc"
