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
// handlers are the program's actions. Controls carry their classic names as
// object names so tests and tools can find them.
class Varnet : public QMainWindow
{
    Q_OBJECT

public:
    explicit Varnet(PrinterCollection &printers, QWidget *parent = nullptr);
    ~Varnet() override;

    // Start-up before the window is shown. Returns true when the command
    // line named a file, i.e. the caller goes on with command-line sending.
    bool Form_Load(const QString &commandLine);

    // The whole content of the file loaded last, byte for byte.
    QByteArray Druckertext;

    // Loads the file Text2 names, telling the user only of a file too large
    // to hold.
    SendResult OpenFi();
    // The rest of start-up when the command line named a file: send it once
    // to the restored destination, unattended. Returns the exit status.
    int commandLineSend();
    void GetPrinters(QComboBox *list);

    void Command1_Click();
    void Open_Click();
    void Command2_Click();
    void Command3_Click();
    void Option1_Click();
    void Option2_Click();
    void Exit_Click();
    void About_Click();
    void Image1_Click();

    // The TCP destination: sendTcp() is the Print command's TCP branch; the
    // progress window of the latest send stays in SocketForm until Timer1
    // lets it go.
    void sendTcp();
    void Timer1_Timer();
    QPointer<frmsocket> SocketForm;

    PrinterSelection &printers() { return m_printers; }

    // Seams for tests; the window owns nothing passed here.
    void setFileChooser(FileChooser *chooser) { m_fileChooser = chooser; }
    void setTcpTiming(const TcpBlockSender::Timing &timing) { m_tcpTiming = timing; }
    // The spooler Print uses; null gives a fresh system spooler per run.
    void setSpooler(Spooler *spooler) { m_spooler = spooler; }

signals:
    // Once per TCP send: its connection is gone and any failure message has
    // been answered. ok: the printer took the whole file and the connection
    // closed gracefully.
    void tcpSendFinished(bool ok);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void Form_Unload();
    void sendToCurrentPrinter();
    // Shows the progress of the send in form and ends it as Timer1 or the
    // unattended mode wants.
    void followTcpSend(frmsocket *form);
    // The chosen printer is not in the list: silent, unless the list could not be asked.
    void printerNotFound(const QString &printer);

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
