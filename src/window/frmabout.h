#pragma once

#include <QDialog>

// The About box: fixed texts, the home page link and OK; deleted on close.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);

    void cmdOK_Click();
    void Command1_Click();
};
