#include "window/varnet.h"

#include "window/frmabout.h"
#include "core/commandline.h"
#include "core/filechooser.h"
#include "core/localpath.h"
#include "core/settingscodec.h"
#include "core/startupsettings.h"
#include "platform/platform.h"
#include "core/endpoint.h"
#include "window/frmsocket.h"
#include "window/classicstyle.h"
#include "window/messageseam.h"
#include "window/twips.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace {

QColor classicColor(platform::SystemColor index)
{
    return QColor::fromRgb(static_cast<QRgb>(platform::systemColor(index)));
}

void paintBackground(QWidget *widget, const QColor &color,
                     QPalette::ColorRole role = QPalette::Window)
{
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

Varnet::Varnet(PrinterCollection &printers, QWidget *parent)
    : QMainWindow(parent), m_printers(printers)
{
    setObjectName(QStringLiteral("Varnet"));
    setWindowTitle(QStringLiteral("Varnet - Socket closed"));
    setWindowIcon(QIcon(picturePath("icon.png")));
    buildControls();
    buildMenus();

    acceptFileDrops();
    resize(twipsToPixels(6960), twipsToPixels(3000) + menuBar()->sizeHint().height());
}

Varnet::~Varnet()
{
    // The progress window has no owner; its captions read our controls.
    delete SocketForm.data();
}

void Varnet::buildControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("Form"));
    setCentralWidget(client);
    paintBackground(client, classicColor(platform::ColorActiveBorder));

    const QFont dialogFont = classicFont(8.25);
    client->setFont(dialogFont);
    QFont labelFont = dialogFont;
    labelFont.setItalic(true);

    Command1 = place<QPushButton>(client, "Command1", twipsRect(5520, 1920, 1215, 375),
                                  QStringLiteral("File select"));
    Combo1 = place<QComboBox>(client, "Combo1", twipsRect(1320, 120, 5400, 315));
    Combo1->setEditable(false);
    Text1 = place<QLineEdit>(client, "Text1", twipsRect(2400, 1560, 2895, 285),
                             QStringLiteral("0 bytes"));
    Text1->setReadOnly(true);
    // Read as plain text: the box takes the window's colour.
    paintBackground(Text1, classicColor(platform::ColorActiveBorder), QPalette::Base);
    Label1 =
        place<QLabel>(client, "Label1", twipsRect(1320, 1560, 975, 255), QStringLiteral("Size:"));
    Command2 = place<QPushButton>(client, "Command2", twipsRect(5520, 2400, 1215, 375),
                                  QStringLiteral("Print"));
    Text2 = place<QLineEdit>(client, "Text2", twipsRect(1320, 840, 5415, 525));
    Label2 =
        place<QLabel>(client, "Label2", twipsRect(120, 120, 735, 255), QStringLiteral("Printer:"));
    Label3 =
        place<QLabel>(client, "Label3", twipsRect(240, 840, 615, 255), QStringLiteral("File:"));
    Command3 = place<QPushButton>(client, "Command3", twipsRect(5520, 1440, 1215, 375),
                                  QStringLiteral("Default printer"));
    IP = place<QLineEdit>(client, "IP", twipsRect(1320, 480, 4095, 285));
    Label4 =
        place<QLabel>(client, "Label4", twipsRect(120, 480, 735, 255), QStringLiteral("IP, Port:"));
    Option1 = place<QRadioButton>(client, "Option1", twipsRect(960, 120, 255, 315),
                                  QStringLiteral("Option1"));
    Option2 = place<QRadioButton>(client, "Option2", twipsRect(960, 480, 255, 255),
                                  QStringLiteral("Option2"));
    Port = place<QLineEdit>(client, "Port", twipsRect(5520, 480, 1215, 285),
                            QString::number(RawPrintPort));
    Image1 = place<QLabel>(client, "Image1", twipsRect(1320, 1920, 3990, 735));
    Image1->setPixmap(QPixmap(picturePath("banner.png")));
    Image1->installEventFilter(this);

    for (QLabel *label : {Label1, Label2, Label3, Label4})
        label->setFont(labelFont);
    for (QWidget *widget : std::initializer_list<QWidget *>{Label1, Label2, Label3})
        paintBackground(widget, classicColor(platform::ColorActiveBorder));
    for (QWidget *widget : std::initializer_list<QWidget *>{Label4, Option1, Option2})
        paintBackground(widget, classicColor(platform::ColorScrollBar));

    Option1->setChecked(true);

    // Labels and the picture take no focus.
    const QList<QWidget *> chain{Command1, Combo1, Text1, Command2, Text2,
                                 Command3, IP, Option1, Option2, Port};
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain.at(i - 1), chain.at(i));
    Command1->setFocus();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(5000);
    connect(Timer1, &QTimer::timeout, this, &Varnet::Timer1_Timer);

    connect(Command1, &QPushButton::clicked, this, &Varnet::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Varnet::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Varnet::Command3_Click);
    connect(Option1, &QRadioButton::clicked, this, &Varnet::Option1_Click);
    connect(Option2, &QRadioButton::clicked, this, &Varnet::Option1_Click);
}

void Varnet::buildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File"));
    QMenu *help = menuBar()->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("Help"));

    const auto addEntry = [this](QMenu *menu, const QString &name, void (Varnet::*handler)()) {
        QAction *action = menu->addAction(name);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, handler);
    };
    addEntry(file, QStringLiteral("Open"), &Varnet::Command1_Click);
    addEntry(file, QStringLiteral("Print"), &Varnet::Command2_Click);
    addEntry(file, QStringLiteral("Exit"), &Varnet::Exit_Click);
    addEntry(help, QStringLiteral("About"), &Varnet::About_Click);
}

bool Varnet::Form_Load(const QString &commandLine)
{
    // "--open FILE" comes from a file manager: nothing is sent before Print.
    // A file really named so is sent, as the command line names a file.
    const QString openOption = QStringLiteral("--open");
    const bool open = (commandLine == openOption ||
                       commandLine.startsWith(openOption + QLatin1Char(' '))) &&
                      !LocalPath::status(stripDoubleQuotes(commandLine)).exists;

    // An unattended send over TCP must not wait on a print scheduler.
    const std::optional<bool> printerQueue =
        optFromText(StartupSettings::read(StartupSettings::KeyOpt));
    if (open || commandLine.isEmpty() || printerQueue.value_or(true))
        GetPrinters(Combo1);
    Text2->setText(open ? stripDoubleQuotes(commandLine.mid(openOption.size() + 1)) : commandLine);

    // A saved printer that is no longer installed leaves the default selected.
    const int saved = Combo1->findText(StartupSettings::read(StartupSettings::KeyPrinter));
    if (saved >= 0)
        Combo1->setCurrentIndex(saved);

    IP->setText(StartupSettings::read(StartupSettings::KeyIp));

    if (printerQueue)
        (*printerQueue ? Option1 : Option2)->setChecked(true);
    (Option1->isChecked() ? Option1 : Option2)->setChecked(true);

    if (open && !Text2->text().isEmpty())
        OpenFi();
    return !open && !Text2->text().isEmpty();
}

void Varnet::Form_Unload()
{
    const QString failure =
        StartupSettings::save({{StartupSettings::KeyPrinter, Combo1->currentText()},
                               {StartupSettings::KeyIp, IP->text()},
                               {StartupSettings::KeyOpt, optToText(Option1->isChecked())}});
    if (!failure.isEmpty())
        MessageSeam::show(this, failure, QString(), QMessageBox::Warning);
}

void Varnet::closeEvent(QCloseEvent *event)
{
    if (!m_endWithoutSaving)
        Form_Unload();
    event->accept();
}

bool Varnet::eventFilter(QObject *watched, QEvent *event)
{
    if (filterDrop(watched, event))
        return true;
    if (watched == Image1 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        About_Click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void Varnet::GetPrinters(QComboBox *list)
{
    const QString current = m_printers.currentPrinter();
    list->addItems(m_printers.deviceNames());
    list->setCurrentIndex(list->findText(current));
}

void Varnet::Command3_Click()
{
    // A printer installed after start-up has no item: the selection stays.
    const int index = Combo1->findText(m_printers.currentPrinter());
    if (index >= 0)
        Combo1->setCurrentIndex(index);
}

void Varnet::Option1_Click()
{
    // Should both ever be set, the printer queue wins.
    if (Option1->isChecked())
        Option2->setChecked(false);
}

void Varnet::Exit_Click()
{
    m_endWithoutSaving = true;
    QCoreApplication::exit(0);
}

void Varnet::About_Click()
{
    // One box for the whole program, without an owner, so either window may
    // be closed first; its deletion on close clears the pointer.
    static QPointer<frmAbout> box;
    if (!box) {
        box = new frmAbout;
        centerOnScreen(box);
    }
    box->show();
    box->raise();
    box->activateWindow();
}
