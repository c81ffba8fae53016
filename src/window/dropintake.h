#pragma once

#include <QObject>

#include <functional>
#include <initializer_list>

class QLineEdit;
class QWidget;

// Takes files dropped on the main window. Targets put the first dropped file
// into the path box and load it; refusers turn every drag away themselves,
// so it never falls through to the window behind them.
class DropIntake : public QObject
{
    Q_OBJECT

public:
    DropIntake(QLineEdit *pathBox, std::function<void()> load,
               std::initializer_list<QWidget *> targets, std::initializer_list<QWidget *> refusers,
               QObject *parent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLineEdit *m_pathBox;
    std::function<void()> m_load;
};
