#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <QPointer>

#include <memory>

#include "core/fileloader.h"
#include "core/printerselection.h"
#include "core/tcpblocksender.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class FileChooser;
class PrinterCollection;
class frmsocket;
class Spooler;

// The main window: every input of a send lives in its controls, and its
// handlers are the program's actions.
class Varnet : public QMainWindow
{
    Q_OBJECT

public:
    explicit Varnet(PrinterCollection &printers, QWidget *parent = nullptr);
    ~Varnet() override;

    // Start-up before the window is shown; true when the command line named
    // a file to send.
    bool Form_Load(const QString &commandLine);

    QByteArray Druckertext; // the file loaded last, byte for byte

    // Loads the file Text2 names, telling only of one too large to hold.
    SendResult OpenFi();
    // Sends the file the command line named once, unattended; the exit status.
    int commandLineSend();
    void GetPrinters(QComboBox *list);

    void Command1_Click(); // also File > Open
    void Command2_Click(); // also File > Print
    void Command3_Click();
    void Option1_Click(); // also Option2's
    void Exit_Click();
    void About_Click(); // also the picture's

    // Print's TCP branch; the progress window of the latest send stays in
    // SocketForm until Timer1 lets it go.
    void sendTcp();
    void Timer1_Timer();
    QPointer<frmsocket> SocketForm;

    PrinterSelection &printers() { return m_printers; }

    // Seams for tests; the window owns nothing passed here. A null spooler
    // gives a fresh system spooler per Print.
    void setFileChooser(FileChooser *chooser) { m_fileChooser = chooser; }
    void setTcpTiming(const TcpBlockSender::Timing &timing) { m_tcpTiming = timing; }
    void setSpooler(Spooler *spooler) { m_spooler = spooler; }

signals:
    // Once per TCP send, when its connection is gone and any failure message
    // answered. ok: the printer took the whole file and it closed gracefully.
    void tcpSendFinished(bool ok);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void Form_Unload();
    void sendToCurrentPrinter();
    void followTcpSend(frmsocket *form);
    // Silent, unless the list of printers could not be asked.
    void printerNotFound(const QString &printer);
    // Files dropped on the window; the TCP controls turn drags away.
    void acceptFileDrops();
    bool filterDrop(QObject *watched, QEvent *event);

    PrinterSelection m_printers;
    FileChooser *m_fileChooser = nullptr;
    std::unique_ptr<FileChooser> m_ownFileChooser;
    QString m_startFolder; // where the next Open dialog starts; empty: the current directory
    Spooler *m_spooler = nullptr;
    bool m_endWithoutSaving = false;
    bool m_commandLineMode = false;
    int m_sendStatus = 0; // how the last Print ended, as an exit status
    TcpBlockSender::Timing m_tcpTiming;

    QPushButton *Command1 = nullptr;
    QComboBox *Combo1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QLabel *Label1 = nullptr;
    QPushButton *Command2 = nullptr;
    QLineEdit *Text2 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QPushButton *Command3 = nullptr;
    QLineEdit *IP = nullptr;
    QLabel *Label4 = nullptr;
    QRadioButton *Option1 = nullptr;
    QRadioButton *Option2 = nullptr;
    QLineEdit *Port = nullptr;
    QLabel *Image1 = nullptr;
    QTimer *Timer1 = nullptr;
};
