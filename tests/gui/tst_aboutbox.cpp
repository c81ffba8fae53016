#include "window/classicstyle.h"
#include "window/frmabout.h"
#include "window/frmsocket.h"
#include "window/homepage.h"
#include "window/varnet.h"
#include "fakeprinters.h"
#include "messagerecorder.h"
#include "window/twips.h"
#include "windows.h"

#include <QApplication>
#include <QDesktopServices>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

// Opens the box the way the user does and hands back the one that is shown.
frmAbout *requestAbout(Varnet &window)
{
    window.About_Click();
    const QList<frmAbout *> boxes = topLevels<frmAbout>();
    return boxes.size() == 1 ? boxes.first() : nullptr;
}

// Stands in for the user's browser.
class LinkCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void openLink(const QUrl &url) { urls.append(url); }
};

} // namespace

class TestAboutBox : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        for (frmAbout *box : topLevels<frmAbout>())
            box->close();
        QTRY_VERIFY(topLevels<frmAbout>().isEmpty());
        HomePage::setOpener({});
    }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry");

        QTest::newRow("cmdOK") << "cmdOK" << "QPushButton" << "OK"
                               << twipsRect(4245, 2880, 1260, 390);
        QTest::newRow("picIcon") << "picIcon" << "QLabel" << "" << twipsRect(240, 240, 540, 540);
        QTest::newRow("lblDescription")
            << "lblDescription" << "QLabel"
            << "Send file directly to selected printerspooler or TCP-Port. If you send big files, "
               "the processing will take several minutes. Some spooler check the datas, this can "
               "provocate an error. In this case, try Windows Generic Driver."
            << twipsRect(1050, 1125, 3885, 1050);
        QTest::newRow("lblDisclaimer")
            << "lblDisclaimer" << "QLabel"
            << "Warning: No warranty. If you send firmware updates to a printer you do it at your "
               "own risc!"
            << twipsRect(240, 2400, 3870, 420);
        QTest::newRow("lblTitle") << "lblTitle" << "QLabel" << "Varnet"
                                  << twipsRect(1050, 240, 3885, 480);
        QTest::newRow("lblVersion") << "lblVersion" << "QLabel" << "Version 2.4"
                                    << twipsRect(1050, 780, 3885, 225);
        QTest::newRow("Command1") << "Command1" << "QPushButton" << HomePage::address()
                                  << twipsRect(240, 2880, 3975, 375);
    }

    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(QRect, geometry);

        frmAbout box;
        box.show();
        auto *widget = control<QWidget>(&box, name.toLatin1().constData());
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), kind);
        QCOMPARE(widget->geometry(), geometry);
        QVERIFY(widget->isVisible());

        // Every text must be readable whole inside its fixed box.
        if (auto *button = qobject_cast<QPushButton *>(widget)) {
            QCOMPARE(button->text(), text);
            QVERIFY2(button->sizeHint().width() <= geometry.width(),
                     qPrintable(QString::number(button->sizeHint().width())));
        } else if (auto *label = qobject_cast<QLabel *>(widget)) {
            QCOMPARE(label->text(), text);
            if (!text.isEmpty())
                QVERIFY2(label->heightForWidth(geometry.width()) <= geometry.height(),
                         qPrintable(QString::number(label->heightForWidth(geometry.width()))));
        }
    }

    void window()
    {
        frmAbout box;
        // Checked before showing: a focused button becomes the default anyway.
        QVERIFY(control<QPushButton>(&box, "cmdOK")->isDefault());
        box.show();
        QCOMPARE(box.windowTitle(), QStringLiteral("About Varnet"));
        QCOMPARE(box.size(), QSize(377, 226));
        QCOMPARE(box.minimumSize(), box.maximumSize());
        QVERIFY(!(box.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(box.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(box.windowFlags() & Qt::WindowContextHelpButtonHint));
        QVERIFY(!box.isModal());

        QCOMPARE(control<QLabel>(&box, "picIcon")->pixmap().size(), QSize(32, 32));
        auto *link = control<QPushButton>(&box, "Command1");
        QVERIFY(link->font().underline());
        QCOMPARE(link->font().pointSizeF(), 8.25);

        QVERIFY(QTest::qWaitForWindowActive(&box));
        auto *ok = control<QWidget>(&box, "cmdOK");
        QCOMPARE(QApplication::focusWidget(), ok);
        QStringList order;
        QWidget *widget = ok;
        do {
            if (widget->focusPolicy() & Qt::TabFocus)
                order << widget->objectName();
            widget = widget->nextInFocusChain();
        } while (widget != ok);
        QCOMPARE(order, QStringList({"cmdOK", "picIcon", "Command1"}));
    }

    void textColours_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QColor>("color");
        QTest::newRow("disclaimer is pure red") << "lblDisclaimer" << QColor(255, 0, 0);
        QTest::newRow("description is black") << "lblDescription" << QColor(Qt::black);
        QTest::newRow("title is black") << "lblTitle" << QColor(Qt::black);
    }

    void textColours()
    {
        QFETCH(QString, name);
        QFETCH(QColor, color);
        frmAbout box;
        box.show();
        auto *label = control<QLabel>(&box, name.toLatin1().constData());
        QCOMPARE(label->palette().color(QPalette::WindowText), color);

        // The colour has to reach the screen, not just the palette: the pixel
        // that differs most from the background is a text pixel, and with
        // smoothing it is at least close to the text colour.
        const QImage image = label->grab().toImage();
        const QColor background = box.palette().color(QPalette::Window);
        const auto distance = [](const QColor &a, const QColor &b) {
            return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) +
                   qAbs(a.blue() - b.blue());
        };
        QColor strongest = background;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (distance(image.pixelColor(x, y), background) > distance(strongest, background))
                    strongest = image.pixelColor(x, y);
        QVERIFY2(distance(strongest, color) <= 60, qPrintable(strongest.name()));
    }

    void separator_data()
    {
        QTest::addColumn<QPoint>("pixel");
        QTest::addColumn<QString>("expected");

        // Rows 152 and 153 are 2280 twips and the pixel below; columns 6, 7
        // and 368 are 90, 105 and 5520 twips.
        QTest::newRow("grey begins alone") << QPoint(6, 152) << "grey";
        QTest::newRow("no white under grey start") << QPoint(6, 153) << "background";
        QTest::newRow("white begins") << QPoint(7, 153) << "white";
        QTest::newRow("middle grey") << QPoint(190, 152) << "grey";
        QTest::newRow("middle white") << QPoint(190, 153) << "white";
        QTest::newRow("last grey") << QPoint(367, 152) << "grey";
        QTest::newRow("last white") << QPoint(367, 153) << "white";
        QTest::newRow("ends at 5520") << QPoint(368, 152) << "background";
        QTest::newRow("nothing before 90") << QPoint(5, 152) << "background";
        QTest::newRow("nothing above") << QPoint(190, 151) << "background";
        QTest::newRow("nothing below") << QPoint(190, 154) << "background";
    }

    void separator()
    {
        QFETCH(QPoint, pixel);
        QFETCH(QString, expected);
        frmAbout box;
        box.show();
        const QImage image = box.grab().toImage();
        const QColor background = box.palette().color(QPalette::Window);
        const QMap<QString, QColor> colours{{"grey", QColor(128, 128, 128)},
                                           {"white", QColor(Qt::white)},
                                           {"background", background}};
        QVERIFY(background != QColor(Qt::white) && background != QColor(128, 128, 128));
        QCOMPARE(image.pixelColor(pixel), colours.value(expected));
    }

    void closing_data()
    {
        QTest::addColumn<int>("key"); // 0: click on OK
        QTest::newRow("OK click") << 0;
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("Enter") << int(Qt::Key_Enter);
        QTest::newRow("Escape") << int(Qt::Key_Escape);
    }

    void closing()
    {
        QFETCH(int, key);
        FakePrinters printers;
        Varnet window(printers);
        window.show();
        QPointer<frmAbout> box = requestAbout(window);
        QVERIFY(box);
        QVERIFY(QTest::qWaitForWindowActive(box));

        if (key == 0)
            QTest::mouseClick(control<QPushButton>(box, "cmdOK"), Qt::LeftButton);
        else
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QTRY_VERIFY(box.isNull());
        QVERIFY(window.isVisible());

        // A later request builds the box afresh.
        QPointer<frmAbout> again = requestAbout(window);
        QVERIFY(again);
        QVERIFY(again->isVisible());
    }

    void oneSharedBox()
    {
        FakePrinters printers;
        Varnet window(printers);
        window.show();
        QPointer<frmAbout> first = requestAbout(window);
        QVERIFY(first);
        QVERIFY(first->isVisible());
        QCOMPARE(first->parentWidget(), nullptr);
        QCOMPARE(QApplication::activeModalWidget(), nullptr);

        // Asking again while it is open, even hidden behind the main window,
        // shows that same box.
        QCOMPARE(requestAbout(window), first.data());
        first->hide();
        QTest::mouseClick(control<QLabel>(&window, "Image1"), Qt::LeftButton);
        QCOMPARE(topLevels<frmAbout>(), QList<frmAbout *>{first.data()});
        QVERIFY(first->isVisible());

        window.findChild<QAction *>(QStringLiteral("About"))->trigger();
        QCOMPARE(topLevels<frmAbout>(), QList<frmAbout *>{first.data()});
    }

    void centredOnScreen_data()
    {
        QTest::addColumn<QString>("window");
        QTest::newRow("main window") << "main";
        QTest::newRow("About box") << "about";
        QTest::newRow("progress window") << "progress";
    }

    // Frame and all: under a window manager the frame comes after the window is
    // shown, so its title bar counts only once it has been put around it.
    void centredOnScreen()
    {
        QFETCH(QString, window);
        FakePrinters printers;
        Varnet main(printers);
        frmsocket progress;
        QWidget *shown = window == "about" ? requestAbout(main)
                         : window == "main" ? static_cast<QWidget *>(&main)
                                            : &progress;
        QVERIFY(shown);
        if (shown == &main)
            centerOnScreen(&main); // as the program does before showing it
        shown->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown));
        if (qEnvironmentVariableIsSet("VARNET_TEST_WINDOW_MANAGER"))
            QTRY_VERIFY2_WITH_TIMEOUT(shown->frameGeometry() != shown->geometry(),
                                      "the window manager put no frame around it within 5 s", 5000);
        const QPoint centre = shown->screen()->availableGeometry().center();
        const auto frame = [shown] { return shown->frameGeometry(); };
        QTRY_VERIFY2_WITH_TIMEOUT(
            (frame().center() - centre).manhattanLength() <= 2,
            qPrintable(QString::asprintf("frame %dx%d at %d,%d, screen centre %d,%d", frame().width(),
                                         frame().height(), frame().x(), frame().y(), centre.x(),
                                         centre.y())),
            5000);
    }

    void linkReachesBrowser()
    {
        MessageRecorder messages;
        LinkCatcher browser;
        const QUrl address(HomePage::address());
        QVERIFY(address.isValid());
        QVERIFY(!address.scheme().isEmpty());
        QDesktopServices::setUrlHandler(address.scheme(), &browser, "openLink");

        frmAbout box;
        box.show();
        QTest::mouseClick(control<QPushButton>(&box, "Command1"), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(address.scheme());

        QCOMPARE(browser.urls, QList<QUrl>{address});
        QCOMPARE(browser.urls.first().toString(), control<QPushButton>(&box, "Command1")->text());
        QVERIFY(messages.messages.isEmpty());
        QVERIFY(box.isVisible());
    }

    void failedOpenIsReported()
    {
        MessageRecorder messages;
        QList<QUrl> tried;
        HomePage::setOpener([&tried](const QUrl &url) {
            tried.append(url);
            return false;
        });

        frmAbout box;
        box.show();
        QTest::mouseClick(control<QPushButton>(&box, "Command1"), Qt::LeftButton);

        QCOMPARE(tried, QList<QUrl>{QUrl(HomePage::address())});
        QCOMPARE(messages.messages.size(), 1);
        QVERIFY(messages.messages.first().text.contains(HomePage::address()));
        QVERIFY(box.isVisible());
    }

    void programRunsUntilBothWindowsAreClosed()
    {
        FakePrinters printers;
        Varnet window(printers);
        window.Form_Load(QString());
        window.show();
        QPointer<frmAbout> box = requestAbout(window);
        QVERIFY(box);

        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        bool boxOpenAfterMainClosed = false;
        bool boxGoneAtQuit = false;
        connect(qApp, &QCoreApplication::aboutToQuit, this, [&] { boxGoneAtQuit = box.isNull(); });

        // The main window goes first, through its frame; the box only on a
        // later turn of the loop, so a quit in between would be seen.
        QTimer::singleShot(0, &window, [&] {
            window.close();
            QTimer::singleShot(0, qApp, [&] {
                boxOpenAfterMainClosed = box && box->isVisible() && lastClosed.isEmpty();
                if (box)
                    QTest::keyClick(box, Qt::Key_Escape);
            });
        });
        // A program that never quits fails here instead of hanging the suite.
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
        guard.start(60000);

        QVERIFY2(QApplication::exec() == 0,
                 "the program did not quit within 60 s of both windows closing");
        QVERIFY(boxOpenAfterMainClosed);
        QVERIFY(boxGoneAtQuit);
        QCOMPARE(lastClosed.count(), 1);
    }
};

QTEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
