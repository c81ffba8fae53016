#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The About box: fixed texts, the home page link and OK. It deletes itself
// when closed.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);

    void cmdOK_Click();
    void Command1_Click();

private:
    QPushButton *cmdOK = nullptr;
    QLabel *picIcon = nullptr;
    QLabel *lblDescription = nullptr;
    QLabel *lblDisclaimer = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *lblVersion = nullptr;
    QPushButton *Command1 = nullptr;
};
