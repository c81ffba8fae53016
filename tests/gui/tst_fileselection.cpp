#include "window/varnet.h"
#include "fakefilechooser.h"
#include "fakeprinters.h"
#include "messagerecorder.h"
#include "windows.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "testdata.h"
#include <QTimer>
#include <QUrl>

namespace {

enum class Payload { OneFile, ThreeFiles, TextOnly, Folder, RemoteThenLocal };

// Enter, move and drop as the window system delivers them; returns whether
// the move was accepted, i.e. whether the drag showed it could be dropped.
bool dragAndDrop(QWidget *target, const QMimeData &data, Qt::DropAction *action)
{
    const QPoint pos = target->rect().center();
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(pos, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(pos, actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QDropEvent drop(QPointF(pos), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    *action = drop.dropAction();
    return move.isAccepted() && drop.isAccepted();
}

} // namespace

Q_DECLARE_METATYPE(Payload)

class TestFileSelection : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_before;      // loaded before each case, so that "unchanged" can be seen
    QByteArray m_beforeContent = "before";
    QString m_binary;
    QByteArray m_binaryContent;
    QString m_noExtension;

    QString write(const QString &name, const QByteArray &content)
    {
        return writeTestFile(QDir::toNativeSeparators(m_dir.filePath(name)), content);
    }

    // A window that has loaded m_before.
    void prepare(Varnet &window)
    {
        window.Form_Load(QString());
        window.show();
        control<QLineEdit>(&window, "Text2")->setText(m_before);
        window.OpenFi();
        QCOMPARE(window.Druckertext, m_beforeContent);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_before = write("before.prn", m_beforeContent);
        for (int value = 255; value >= 0; --value)
            m_binaryContent.append(static_cast<char>(value));
        m_binaryContent.append('\0');
        m_binary = write("binary job.prn", m_binaryContent);
        m_noExtension = write("JOB", "no extension");
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("folder")));
    }

    void cleanup()
    {
        write("before.prn", m_beforeContent); // one drop case rewrites it
    }

    void openFi_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("loads");

        QTest::newRow("binary with NUL and high bytes") << m_binary << m_binaryContent << true;
        QTest::newRow("empty") << write("empty.prn", QByteArray()) << QByteArray() << true;
        QTest::newRow("no extension") << m_noExtension << QByteArray("no extension") << true;
        QTest::newRow("folder") << QDir::toNativeSeparators(m_dir.filePath("folder"))
                                << QByteArray() << false;
        QTest::newRow("missing") << QDir::toNativeSeparators(m_dir.filePath("gone.prn"))
                                 << QByteArray() << false;
        QTest::newRow("empty path") << QString() << QByteArray() << false;
    }

    void openFi()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, content);
        QFETCH(bool, loads);

        MessageRecorder messages;
        FakePrinters printers;
        Varnet window(printers);
        prepare(window);

        control<QLineEdit>(&window, "Text2")->setText(path);
        window.OpenFi();
        QCOMPARE(control<QLineEdit>(&window, "Text2")->text(), path);
        QCOMPARE(window.Druckertext, loads ? content : m_beforeContent);
        QCOMPARE(control<QLineEdit>(&window, "Text1")->text(),
                 QStringLiteral("%1 bytes").arg(loads ? content.size() : m_beforeContent.size()));
        QVERIFY(messages.messages.isEmpty());
    }

    void fileHeldOpenForWriting()
    {
        const QString path = write("spooling.prn", QByteArray());
        QFile writer(path);
        QVERIFY(writer.open(QIODevice::WriteOnly | QIODevice::Append));
        QCOMPARE(writer.write("written so far"), 14);
        QVERIFY(writer.flush());

        FakePrinters printers;
        Varnet window(printers);
        prepare(window);
        control<QLineEdit>(&window, "Text2")->setText(path);
        window.OpenFi();
        QCOMPARE(window.Druckertext, QByteArray("written so far"));
        QCOMPARE(control<QLineEdit>(&window, "Text1")->text(), QStringLiteral("14 bytes"));
    }

    void typedPathDoesNotReload()
    {
        FakePrinters printers;
        Varnet window(printers);
        prepare(window);

        QLineEdit *text2 = control<QLineEdit>(&window, "Text2");
        text2->clear();
        QTest::keyClicks(text2, m_binary);
        QTest::keyClick(text2, Qt::Key_Return);
        QCOMPARE(text2->text(), m_binary);
        QCOMPARE(control<QLineEdit>(&window, "Text1")->text(), QStringLiteral("6 bytes"));
        QCOMPARE(window.Druckertext, m_beforeContent);
    }

    void twoGibibytesAreRefusedWithAMessage()
    {
        const QString path = QDir::toNativeSeparators(m_dir.filePath("huge.bin"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(Q_INT64_C(2147483648))); // sparse: no disk space used
        file.close();

        MessageRecorder messages;
        FakePrinters printers;
        Varnet window(printers);
        prepare(window);
        control<QLineEdit>(&window, "Text2")->setText(path);
        window.OpenFi();

        QCOMPARE(messages.messages.size(), 1);
        QVERIFY2(messages.messages.constFirst().text.contains(path), qPrintable(messages.texts()[0]));
        QVERIFY(messages.messages.constFirst().text.contains(QStringLiteral("2 GiB")));
        QCOMPARE(control<QLineEdit>(&window, "Text1")->text(), QStringLiteral("6 bytes"));
        QCOMPARE(window.Druckertext, m_beforeContent);
        QFile::remove(path);
    }

    void chooseFile_data()
    {
        QTest::addColumn<bool>("fromMenu");
        QTest::newRow("File select button") << false;
        QTest::newRow("File > Open") << true;
    }

    void chooseFile()
    {
        QFETCH(bool, fromMenu);

        FakePrinters printers;
        Varnet window(printers);
        prepare(window);
        FakeFileChooser chooser;
        window.setFileChooser(&chooser);
        const auto choose = [&] {
            if (fromMenu)
                window.findChild<QAction *>(QStringLiteral("Open"))->trigger();
            else
                QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("Command1")),
                                  Qt::LeftButton);
        };

        // A cancel first: nothing changes, not even a path typed by hand.
        control<QLineEdit>(&window, "Text2")->setText(QStringLiteral("typed by hand"));
        choose();
        QCOMPARE(chooser.requests.size(), 1);
        QCOMPARE(control<QLineEdit>(&window, "Text2")->text(), QStringLiteral("typed by hand"));
        QCOMPARE(control<QLineEdit>(&window, "Text1")->text(), QStringLiteral("6 bytes"));
        QCOMPARE(window.Druckertext, m_beforeContent);

        chooser.answers << QDir::fromNativeSeparators(m_binary) << QString();
        choose();
        QCOMPARE(control<QLineEdit>(&window, "Text2")->text(), m_binary);
        QCOMPARE(control<QLineEdit>(&window, "Text1")->text(), QStringLiteral("257 bytes"));
        QCOMPARE(window.Druckertext, m_binaryContent);

        // The next dialog starts where the file was found, also after a cancel.
        choose();
        choose();
        QCOMPARE(chooser.requests.size(), 4);
        const QString current = QDir::toNativeSeparators(QDir::currentPath());
        const QString chosenFolder = QDir::toNativeSeparators(m_dir.path()) + QDir::separator();
        QCOMPARE(chooser.requests[0].startFolder, current);
        QCOMPARE(chooser.requests[1].startFolder, current);
        QCOMPARE(chooser.requests[2].startFolder, chosenFolder);
        QCOMPARE(chooser.requests[3].startFolder, chosenFolder);
        QCOMPARE(control<QLineEdit>(&window, "Text2")->text(), m_binary);

        for (const FileChooser::Request &request : std::as_const(chooser.requests)) {
            QCOMPARE(request.title, QStringLiteral("Open file"));
            QCOMPARE(request.initialName, QString());
            QCOMPARE(request.nameFilters, QStringList{QStringLiteral("All (*)")});
            QCOMPARE(request.defaultSuffix, QString());
        }
    }

    void realDialogOffersFilesWithoutDot()
    {
        FakePrinters printers;
        Varnet window(printers);
        prepare(window);

        QStringList seenFilters;
        QString seenTitle;
        QTimer answer;
        answer.setInterval(10);
        connect(&answer, &QTimer::timeout, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            answer.stop();
            seenFilters = dialog->nameFilters();
            seenTitle = dialog->windowTitle();
            // Typed into the name box, as a user does. selectFile() would be
            // ignored once the dialog has activated and the box holds the
            // focus, and an Open with an empty box keeps the dialog up.
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY2(name, "the Open dialog has no file-name box");
            name->setText(m_noExtension);
            static_cast<QDialog *>(dialog)->accept(); // the file dialog's own check runs
        });
        answer.start();
        // However the dialog misbehaves, the test ends: a dialog still open
        // after the deadline is cancelled and the case fails.
        bool gaveUp = false;
        QTimer deadline;
        deadline.setSingleShot(true);
        connect(&deadline, &QTimer::timeout, this, [&] {
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                gaveUp = true;
                dialog->reject();
            }
        });
        deadline.start(10000);
        window.Command1_Click();

        QVERIFY2(!gaveUp, "the Open dialog did not close within 10 s of choosing the file");
        QCOMPARE(seenTitle, QStringLiteral("Open file"));
        QCOMPARE(seenFilters, QStringList{QStringLiteral("All (*)")});
        QCOMPARE(control<QLineEdit>(&window, "Text2")->text(), m_noExtension);
        QCOMPARE(control<QLineEdit>(&window, "Text1")->text(), QStringLiteral("12 bytes"));
    }

    void drop_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<Payload>("payload");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("expectedPath");
        QTest::addColumn<QByteArray>("expectedContent");

        const QStringList targets{"Form",   "Text2",  "Text1",  "Combo1", "Command1",
                                  "Command2", "Image1", "Label1", "Label2", "Label3"};
        const QStringList refusers{"Command3", "Label4", "IP", "Port", "Option1", "Option2"};
        for (const QString &name : targets)
            QTest::addRow("file on %s", qPrintable(name))
                << name << Payload::OneFile << true << m_binary << m_binaryContent;
        for (const QString &name : refusers)
            QTest::addRow("file refused by %s", qPrintable(name))
                << name << Payload::OneFile << false << m_before << m_beforeContent;

        QTest::newRow("first of three") << "Form" << Payload::ThreeFiles << true << m_binary
                                        << m_binaryContent;
        QTest::newRow("first local file after a web link") << "Label3" << Payload::RemoteThenLocal
                                                           << true << m_binary << m_binaryContent;
        QTest::newRow("text on Text2 reloads the named file")
            << "Text2" << Payload::TextOnly << true << m_before << QByteArray("changed on disk");
        QTest::newRow("text refused by IP") << "IP" << Payload::TextOnly << false << m_before
                                            << m_beforeContent;
        QTest::newRow("folder") << "Label1" << Payload::Folder << true
                                << QDir::toNativeSeparators(m_dir.filePath("folder"))
                                << m_beforeContent;
    }

    void drop()
    {
        QFETCH(QString, target);
        QFETCH(Payload, payload);
        QFETCH(bool, accepted);
        QFETCH(QString, expectedPath);
        QFETCH(QByteArray, expectedContent);

        MessageRecorder messages;
        FakePrinters printers;
        Varnet window(printers);
        prepare(window);
        FakeFileChooser chooser;
        window.setFileChooser(&chooser);
        QSignalSpy printClicks(window.findChild<QPushButton *>(QStringLiteral("Command2")),
                               &QPushButton::clicked);
        QSignalSpy selectClicks(window.findChild<QPushButton *>(QStringLiteral("Command1")),
                                &QPushButton::clicked);

        const QUrl binaryUrl = QUrl::fromLocalFile(m_binary);
        QMimeData data;
        switch (payload) {
        case Payload::OneFile:
            data.setUrls({binaryUrl});
            break;
        case Payload::ThreeFiles:
            data.setUrls({binaryUrl, QUrl::fromLocalFile(m_before),
                          QUrl::fromLocalFile(m_noExtension)});
            break;
        case Payload::RemoteThenLocal:
            data.setUrls({QUrl(QStringLiteral("https://example.invalid/job.prn")), binaryUrl});
            break;
        case Payload::TextOnly: {
            data.setText(QStringLiteral("dragged text"));
            QFile file(m_before);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.write("changed on disk") == 15);
            break;
        }
        case Payload::Folder:
            data.setUrls({QUrl::fromLocalFile(m_dir.filePath("folder"))});
            break;
        }

        QWidget *widget = window.findChild<QWidget *>(target);
        QVERIFY(widget);
        Qt::DropAction action = Qt::IgnoreAction;
        QCOMPARE(dragAndDrop(widget, data, &action), accepted);
        if (accepted) // a move would let a file manager delete the file
            QCOMPARE(action, Qt::CopyAction);

        QCOMPARE(control<QLineEdit>(&window, "Text2")->text(), expectedPath);
        QCOMPARE(window.Druckertext, expectedContent);
        QCOMPARE(control<QLineEdit>(&window, "Text1")->text(), QStringLiteral("%1 bytes").arg(expectedContent.size()));
        QVERIFY(messages.messages.isEmpty());
        QVERIFY(chooser.requests.isEmpty());
        QCOMPARE(printClicks.size(), 0);
        QCOMPARE(selectClicks.size(), 0);
    }
};

QTEST_MAIN(TestFileSelection)
#include "tst_fileselection.moc"
