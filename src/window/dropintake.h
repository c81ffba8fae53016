#pragma once

#include <QObject>

#include <functional>
#include <initializer_list>

class QDropEvent;
class QLineEdit;
class QMimeData;
class QWidget;

// Takes files dropped on the main window. Targets put the first dropped file
// into the path box and load it; refusers turn every drag away themselves,
// so it never falls through to the window behind them.
class DropIntake : public QObject
{
    Q_OBJECT

public:
    DropIntake(QLineEdit *pathBox, std::function<void()> load, QObject *parent = nullptr);

    void addTargets(std::initializer_list<QWidget *> targets);
    void addRefusers(std::initializer_list<QWidget *> refusers);

    // The path a drop names: its first local file, or an empty string when
    // it carries none.
    static QString firstLocalFile(const QMimeData *data);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void take(QDropEvent *event);

    QLineEdit *m_pathBox;
    std::function<void()> m_load;
};
