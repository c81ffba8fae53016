#include "window/varnet.h"
#include "fakeprinters.h"
#include "messagerecorder.h"
#include "testdata.h"
#include "window/twips.h"
#include "windows.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QMap<QString, QString> readSettings()
{
    QSettings file(settingsFile(), QSettings::IniFormat);
    QMap<QString, QString> values;
    file.beginGroup(QStringLiteral("STARTUP"));
    for (const QString &key : file.childKeys())
        values.insert(key, file.value(key).toString());
    return values;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QFile::remove(settingsFile());
    }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<bool>("italic");

        // name, Qt kind, initial text, twips geometry
        QTest::newRow("Command1") << "Command1" << "QPushButton" << "File select"
                                  << twipsRect(5520, 1920, 1215, 375) << false;
        QTest::newRow("Combo1") << "Combo1" << "QComboBox" << ""
                                << twipsRect(1320, 120, 5400, 315) << false;
        QTest::newRow("Text1") << "Text1" << "QLineEdit" << "0 bytes"
                               << twipsRect(2400, 1560, 2895, 285) << false;
        QTest::newRow("Label1") << "Label1" << "QLabel" << "Size:"
                                << twipsRect(1320, 1560, 975, 255) << true;
        QTest::newRow("Command2") << "Command2" << "QPushButton" << "Print"
                                  << twipsRect(5520, 2400, 1215, 375) << false;
        QTest::newRow("Text2") << "Text2" << "QLineEdit" << ""
                               << twipsRect(1320, 840, 5415, 525) << false;
        QTest::newRow("Label2") << "Label2" << "QLabel" << "Printer:"
                                << twipsRect(120, 120, 735, 255) << true;
        QTest::newRow("Label3") << "Label3" << "QLabel" << "File:"
                                << twipsRect(240, 840, 615, 255) << true;
        QTest::newRow("Command3") << "Command3" << "QPushButton" << "Default printer"
                                  << twipsRect(5520, 1440, 1215, 375) << false;
        QTest::newRow("IP") << "IP" << "QLineEdit" << "" << twipsRect(1320, 480, 4095, 285)
                            << false;
        QTest::newRow("Label4") << "Label4" << "QLabel" << "IP, Port:"
                                << twipsRect(120, 480, 735, 255) << true;
        QTest::newRow("Option1") << "Option1" << "QRadioButton" << "Option1"
                                 << twipsRect(960, 120, 255, 315) << false;
        QTest::newRow("Option2") << "Option2" << "QRadioButton" << "Option2"
                                 << twipsRect(960, 480, 255, 255) << false;
        QTest::newRow("Port") << "Port" << "QLineEdit" << "9100" << twipsRect(5520, 480, 1215, 285)
                              << false;
        QTest::newRow("Image1") << "Image1" << "QLabel" << ""
                                << twipsRect(1320, 1920, 3990, 735) << false;
    }

    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(QRect, geometry);
        QFETCH(bool, italic);

        FakePrinters printers;
        Varnet window(printers);
        window.Form_Load(QString());
        window.show();

        auto *widget = window.findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), kind);
        QCOMPARE(widget->geometry(), geometry);
        QVERIFY(widget->isVisible());
        QVERIFY(widget->isEnabled());
        QCOMPARE(widget->font().italic(), italic);
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            QCOMPARE(button->text(), text);
        else if (auto *edit = qobject_cast<QLineEdit *>(widget))
            QCOMPARE(edit->text(), text);
        else if (auto *label = qobject_cast<QLabel *>(widget))
            QCOMPARE(label->text(), text);
        else if (auto *combo = qobject_cast<QComboBox *>(widget))
            QCOMPARE(combo->currentText(), text);
        if (auto *edit = qobject_cast<QLineEdit *>(widget))
            QCOMPARE(edit->maxLength(), 32767); // Qt's own ceiling, not a limit of ours
    }

    void windowAndMenus()
    {
        FakePrinters printers;
        Varnet window(printers);
        window.Form_Load(QString());
        window.show();

        QCOMPARE(window.windowTitle(), QStringLiteral("Varnet - Socket closed"));
        QCOMPARE(window.centralWidget()->size(), QSize(464, 200));
        QVERIFY(!window.windowIcon().isNull());
        QCOMPARE(control<QLabel>(&window, "Image1")->pixmap().size(), QSize(266, 49));
        QCOMPARE(window.centralWidget()->palette().color(QPalette::Window), QColor(0xD4D0C8));
        QVERIFY(!control<QComboBox>(&window, "Combo1")->isEditable());
        auto *timer = window.findChild<QTimer *>(QStringLiteral("Timer1"));
        QVERIFY(timer);
        QCOMPARE(timer->interval(), 5000);
        QVERIFY(!timer->isActive());

        QStringList tree;
        for (QAction *menuAction : window.menuBar()->actions()) {
            tree << menuAction->text();
            for (QAction *entry : menuAction->menu()->actions())
                tree << QStringLiteral("  ") + entry->text();
        }
        QCOMPARE(tree, QStringList({"File", "  Open", "  Print", "  Exit", "Help", "  About"}));
        for (QAction *entry : window.findChildren<QAction *>()) {
            QVERIFY(entry->shortcut().isEmpty());
            QVERIFY(!entry->text().contains(QLatin1Char('&')));
        }

        // Enlarging leaves every control where it was.
        const QRect before = control<QPushButton>(&window, "Command2")->geometry();
        window.resize(window.width() + 200, window.height() + 150);
        QCOMPARE(control<QPushButton>(&window, "Command2")->geometry(), before);
    }

    void tabOrderAndFocus()
    {
        FakePrinters printers;
        Varnet window(printers);
        window.Form_Load(QString());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        QCOMPARE(QApplication::focusWidget(), control<QWidget>(&window, "Command1"));
        QStringList order;
        QWidget *widget = control<QWidget>(&window, "Command1");
        do {
            if (widget->focusPolicy() & Qt::TabFocus)
                order << widget->objectName();
            widget = widget->nextInFocusChain();
        } while (widget != control<QWidget>(&window, "Command1"));
        QCOMPARE(order, QStringList({"Command1", "Combo1", "Text1", "Command2", "Text2", "Command3",
                                     "IP", "Option1", "Option2", "Port"}));
    }

    void startUpSettings_data()
    {
        QTest::addColumn<QString>("drucker");
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("opt");
        QTest::addColumn<bool>("writeAnything");
        QTest::addColumn<QString>("expectedPrinter");
        QTest::addColumn<bool>("expectedOption1");

        QTest::newRow("first run") << "" << "" << "" << false << "Second" << true;
        QTest::newRow("saved printer and TCP") << "Third" << "10.0.0.7" << "False" << true
                                               << "Third" << false;
        QTest::newRow("Opt true") << "First" << "" << "True" << true << "First" << true;
        QTest::newRow("Opt lower-case false") << "" << "" << "false" << true << "Second" << false;
        QTest::newRow("Opt zero") << "" << "" << "0" << true << "Second" << false;
        QTest::newRow("Opt minus one") << "" << "" << "-1" << true << "Second" << true;
        QTest::newRow("Opt garbage keeps printer queue") << "" << "" << "maybe" << true << "Second"
                                                         << true;
        QTest::newRow("Opt empty") << "" << "" << "" << true << "Second" << true;
        QTest::newRow("removed printer keeps default") << "Gone" << "" << "" << true << "Second"
                                                       << true;
        QTest::newRow("printer name in other case") << "third" << "" << "" << true << "Second"
                                                    << true;
    }

    void startUpSettings()
    {
        QFETCH(QString, drucker);
        QFETCH(QString, ip);
        QFETCH(QString, opt);
        QFETCH(bool, writeAnything);
        QFETCH(QString, expectedPrinter);
        QFETCH(bool, expectedOption1);

        if (writeAnything)
            writeSettings({{"Drucker", drucker}, {"IP", ip}, {"Opt", opt}});

        FakePrinters printers({"First", "Second", "Third"}, "Second");
        Varnet window(printers);
        QVERIFY(!window.Form_Load(QString()));

        QCOMPARE(control<QComboBox>(&window, "Combo1")->currentText(), expectedPrinter);
        QCOMPARE(control<QComboBox>(&window, "Combo1")->count(), 3);
        QCOMPARE(control<QLineEdit>(&window, "IP")->text(), ip);
        QCOMPARE(control<QRadioButton>(&window, "Option1")->isChecked(), expectedOption1);
        QCOMPARE(control<QRadioButton>(&window, "Option2")->isChecked(), !expectedOption1);
        QCOMPARE(control<QLineEdit>(&window, "Port")->text(), QStringLiteral("9100"));
        QCOMPARE(control<QLineEdit>(&window, "Text1")->text(), QStringLiteral("0 bytes"));
        QCOMPARE(control<QLineEdit>(&window, "Text2")->text(), QString());
    }

    void closingSavesExactlyThreeKeys()
    {
        FakePrinters printers({"First", "Second"}, "Second");
        {
            Varnet window(printers);
            window.Form_Load(QString());
            window.show();
            control<QComboBox>(&window, "Combo1")->setCurrentIndex(0);
            control<QLineEdit>(&window, "IP")->setText(QStringLiteral("printer.example"));
            control<QLineEdit>(&window, "Port")->setText(QStringLiteral("9101"));
            QTest::mouseClick(control<QRadioButton>(&window, "Option2"), Qt::LeftButton);
            QVERIFY(control<QRadioButton>(&window, "Option2")->isChecked());
            QVERIFY(!control<QRadioButton>(&window, "Option1")->isChecked());
            QVERIFY(window.close());
        }
        const QMap<QString, QString> expected{
            {"Drucker", "First"}, {"IP", "printer.example"}, {"Opt", "False"}};
        QCOMPARE(readSettings(), expected);

        // The port is not kept: the next start shows 9100 again.
        Varnet again(printers);
        again.Form_Load(QString());
        QCOMPARE(control<QLineEdit>(&again, "Port")->text(), QStringLiteral("9100"));
        QCOMPARE(control<QComboBox>(&again, "Combo1")->currentText(), QStringLiteral("First"));
        QVERIFY(control<QRadioButton>(&again, "Option2")->isChecked());
    }

    void settingsThatCannotBeSaved_data()
    {
        QTest::addColumn<QString>("blocker"); // what stands in the way
        QTest::addColumn<QString>("reason");
        QTest::newRow("read-only folder") << "read-only" << "Permission denied";
        QTest::newRow("a folder in the file's place") << "folder" << "a folder has that name";
    }

    void settingsThatCannotBeSaved()
    {
        QFETCH(QString, blocker);
        QFETCH(QString, reason);
        const QString folder = QFileInfo(settingsFile()).absolutePath();
        QVERIFY(QDir().mkpath(folder));
        if (blocker == QLatin1String("read-only")) {
            if (::geteuid() == 0)
                QSKIP("the superuser writes into read-only folders");
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);
        } else {
            QVERIFY(QDir().mkpath(settingsFile()));
        }
        FakePrinters printers({"First"}, "First");
        MessageRecorder messages;
        {
            Varnet window(printers);
            window.Form_Load(QString());
            window.show();
            QVERIFY(window.close());
        }
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        QDir(settingsFile()).removeRecursively();
        QCOMPARE(messages.texts().size(), 1);
        const QString text = messages.texts().first();
        QVERIFY2(text.contains(settingsFile()) && text.contains(reason), qPrintable(text));
    }

    void removedPrinterIsReplacedByCurrentOnClose()
    {
        writeSettings({{"Drucker", "Gone"}, {"IP", ""}, {"Opt", "True"}});
        FakePrinters printers({"First", "Second"}, "Second");
        Varnet window(printers);
        window.Form_Load(QString());
        window.show();
        QVERIFY(window.close());
        QCOMPARE(readSettings().value("Drucker"), QStringLiteral("Second"));
    }

    void exitSavesNothing()
    {
        writeSettings({{"Drucker", "First"}, {"IP", "1.2.3.4"}, {"Opt", "True"}});
        const QMap<QString, QString> before = readSettings();
        FakePrinters printers({"First", "Second"}, "Second");
        Varnet window(printers);
        window.Form_Load(QString());
        window.show();
        control<QComboBox>(&window, "Combo1")->setCurrentIndex(1);
        control<QLineEdit>(&window, "IP")->setText(QStringLiteral("5.6.7.8"));
        control<QRadioButton>(&window, "Option2")->setChecked(true);

        window.findChild<QAction *>(QStringLiteral("Exit"))->trigger();
        window.close(); // the windows go with the program; nothing may be written
        QCOMPARE(readSettings(), before);
    }

    void printerList_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("defaultPrinter");
        QTest::addColumn<int>("selected");

        QTest::newRow("default is third") << QStringList{"A", "B", "C", "D"} << "C" << 2;
        QTest::newRow("no printers") << QStringList() << "" << -1;
        QTest::newRow("duplicates select the first") << QStringList{"A", "Dup", "Dup"} << "Dup" << 1;
        QTest::newRow("default not listed") << QStringList{"A", "B"} << "Z" << -1;
    }

    void printerList()
    {
        QFETCH(QStringList, installed);
        QFETCH(QString, defaultPrinter);
        QFETCH(int, selected);

        std::vector<std::string> names;
        for (const QString &name : installed)
            names.push_back(name.toStdString());
        FakePrinters printers(names, defaultPrinter.toStdString());
        Varnet window(printers);
        window.Form_Load(QString());

        auto *combo = control<QComboBox>(&window, "Combo1");
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(items, installed);
        QCOMPARE(combo->currentIndex(), selected);

        // "Default printer" after another pick brings the current printer back.
        if (selected >= 0) {
            combo->setCurrentIndex(0);
            QTest::mouseClick(control<QPushButton>(&window, "Command3"), Qt::LeftButton);
            QCOMPARE(combo->currentIndex(), selected);
        } else {
            combo->setCurrentIndex(combo->count() - 1);
            const int before = combo->currentIndex();
            window.Command3_Click();
            QCOMPARE(combo->currentIndex(), before);
        }
    }

    void defaultPrinterButtonLeavesDestination()
    {
        FakePrinters printers({"A", "B"}, "B");
        Varnet window(printers);
        window.Form_Load(QString());
        control<QRadioButton>(&window, "Option2")->setChecked(true);
        control<QComboBox>(&window, "Combo1")->setCurrentIndex(0);
        window.Command3_Click();
        QCOMPARE(control<QComboBox>(&window, "Combo1")->currentText(), QStringLiteral("B"));
        QVERIFY(control<QRadioButton>(&window, "Option2")->isChecked());
    }

    void commandLineSelectsCommandLineMode_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<bool>("commandLineMode");
        QTest::newRow("empty") << "" << false;
        QTest::newRow("a path") << "/tmp/job.prn" << true;
        QTest::newRow("only quotes") << "\"\"" << true;
    }

    void commandLineSelectsCommandLineMode()
    {
        QFETCH(QString, commandLine);
        QFETCH(bool, commandLineMode);
        FakePrinters printers({"A"}, "A");
        Varnet window(printers);
        QCOMPARE(window.Form_Load(commandLine), commandLineMode);
        QCOMPARE(control<QLineEdit>(&window, "Text2")->text(), commandLine);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
