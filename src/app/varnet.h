#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <QPointer>

#include <memory>

#include "app/printers/printerselection.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class FileChooser;
class PrinterCollection;

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

    void OpenFi();
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

    PrinterSelection &printers() { return m_printers; }

    // Seams for tests; the window owns nothing passed here.
    void setFileChooser(FileChooser *chooser);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void Form_Unload();

    PrinterSelection m_printers;
    FileChooser *m_fileChooser = nullptr;
    std::unique_ptr<FileChooser> m_ownFileChooser;
    QString m_startFolder; // where the next Open dialog starts; empty: the current directory
    bool m_endWithoutSaving = false;

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
