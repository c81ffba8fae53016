#pragma once

#include <QWidget>

// A horizontal separator that looks cut into the dialog: a grey line with a
// white one just below it. The widget is two pixels high; its top row is the
// grey line's row.
class EngravedLine : public QWidget
{
    Q_OBJECT

public:
    // greyStart and whiteStart are x positions inside the widget, so the
    // two lines may begin at different columns.
    EngravedLine(int greyStart, int whiteStart, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_greyStart;
    int m_whiteStart;
};
