#include "core/module1.h"
#include "platform/platform.h"
#include "fakefilechooser.h"

#include <QDir>
#include <QTest>

namespace {

// '#' stands for a NUL, which a string literal cannot show.
QString withNuls(const char *text)
{
    QString result = QString::fromLatin1(text);
    result.replace(QLatin1Char('#'), QChar(u'\0'));
    return result;
}

} // namespace

class TestOpenDialog : public QObject
{
    Q_OBJECT

private slots:
    void filter_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("converted");
        QTest::addColumn<QStringList>("unixFilters");
        QTest::addColumn<QStringList>("windowsFilters");

        QTest::newRow("All") << "All|*.*" << withNuls("All#*.*##") << QStringList{"All (*)"}
                             << QStringList{"All (*.*)"};
        QTest::newRow("several pairs")
            << "Jobs|*.prn;*.pcl|All|*.*" << withNuls("Jobs#*.prn;*.pcl#All#*.*##")
            << QStringList{"Jobs (*.prn *.pcl)", "All (*)"}
            << QStringList{"Jobs (*.prn *.pcl)", "All (*.*)"};
        QTest::newRow("one pattern with a dot") << "Text|*.txt" << withNuls("Text#*.txt##")
                                                << QStringList{"Text (*.txt)"}
                                                << QStringList{"Text (*.txt)"};
        QTest::newRow("empty") << "" << withNuls("##") << QStringList() << QStringList();
        QTest::newRow("description without pattern ends the list")
            << "All|*.*|Lonely" << withNuls("All#*.*#Lonely##") << QStringList{"All (*)"}
            << QStringList{"All (*.*)"};
    }

    void filter()
    {
        QFETCH(QString, filter);
        QFETCH(QString, converted);
        QFETCH(QStringList, unixFilters);
        QFETCH(QStringList, windowsFilters);

        QCOMPARE(Module1::convertFilter(filter), converted);
        QCOMPARE(Module1::nameFilters(converted, Module1::PatternRules::Unix), unixFilters);
        QCOMPARE(Module1::nameFilters(converted, Module1::PatternRules::Windows), windowsFilters);
    }

    void split_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");

        const QChar backslash(u'\\');
        const QChar slash(u'/');
        QTest::newRow("Windows folder") << "C:\\data\\job.prn" << backslash << "C:\\data\\"
                                        << "job.prn";
        QTest::newRow("Windows root") << "C:\\job.prn" << backslash << "C:\\" << "job.prn";
        QTest::newRow("Windows share") << "\\\\host\\queue\\a.ps" << backslash
                                       << "\\\\host\\queue\\" << "a.ps";
        QTest::newRow("folder") << "/data/job.prn" << slash << "/data/" << "job.prn";
        QTest::newRow("root") << "/job.prn" << slash << "/" << "job.prn";
        QTest::newRow("several dots") << "/data/job.v2.final.prn" << slash << "/data/"
                                      << "job.v2.final.prn";
        QTest::newRow("no extension") << "/data/README" << slash << "/data/" << "README";
        QTest::newRow("dots in the folder only") << "/data.old/v1.2/job" << slash
                                                 << "/data.old/v1.2/" << "job";
        QTest::newRow("other separator is part of the name")
            << "/data/a\\b.prn" << slash << "/data/" << "a\\b.prn";
    }

    void split()
    {
        QFETCH(QString, path);
        QFETCH(QChar, separator);
        QFETCH(QString, folder);
        QFETCH(QString, name);

        const Module1::FolderAndName split = Module1::splitAtFolder(path, separator);
        QCOMPARE(split.folder, folder);
        QCOMPARE(split.name, name);
    }

    void openDialog_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("expectedName");
        QTest::addColumn<QString>("expectedFolder");

        const QString longFolder = QStringLiteral("/") + QString(150, u'f') + QStringLiteral("/") +
                                   QString(120, u'g') + QStringLiteral("/");
        QTest::newRow("file in a folder") << "/data/job.prn" << "job.prn" << "/data/";
        QTest::newRow("file in the root") << "/job.prn" << "job.prn" << "/";
        QTest::newRow("several dots") << "/data/a.b.c" << "a.b.c" << "/data/";
        QTest::newRow("path far beyond 128 characters")
            << longFolder + QString(100, u'n') + ".prn" << QString(100, u'n') + ".prn"
            << longFolder;
        QTest::newRow("cancel keeps the start folder") << "" << "" << "/start/here/";
    }

    void openDialog()
    {
        QFETCH(QString, answer);
        QFETCH(QString, expectedName);
        QFETCH(QString, expectedFolder);

        FakeFileChooser chooser;
        chooser.answers << answer;
        QString folder = QStringLiteral("/start/here/");
        const QString name = Module1::OpenDialog(chooser, QStringLiteral("Open file"),
                                                 folder, QStringLiteral("job.prn"),
                                                 QStringLiteral("Jobs|*.prn|All|*.*"),
                                                 QStringLiteral("prn"));
        QCOMPARE(name, expectedName);
        // The chosen path comes back in the system's separators; a cancel leaves the folder be.
        QCOMPARE(folder,
                 answer.isEmpty() ? expectedFolder : QDir::toNativeSeparators(expectedFolder));

        QCOMPARE(chooser.requests.size(), 1);
        const FileChooser::Request &request = chooser.requests.constFirst();
        QCOMPARE(request.title, QStringLiteral("Open file"));
        QCOMPARE(request.startFolder, QStringLiteral("/start/here/"));
        QCOMPARE(request.initialName, QStringLiteral("job.prn"));
        const QString all =
            platform::starDotStarMeansAll ? QStringLiteral("All (*.*)") : QStringLiteral("All (*)");
        QCOMPARE(request.nameFilters, QStringList({"Jobs (*.prn)", all}));
        QCOMPARE(request.defaultSuffix, QStringLiteral("prn"));
    }
};

QTEST_GUILESS_MAIN(TestOpenDialog)
#include "tst_opendialog.moc"
