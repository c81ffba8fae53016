#pragma once

#include <QDialog>

// The About box: fixed texts, the home page link and OK. It deletes itself
// when closed.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);

    void cmdOK_Click();
    void Command1_Click();
};
