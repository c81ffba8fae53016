#include "window/engravedline.h"

#include <QPainter>

EngravedLine::EngravedLine(int greyStart, int whiteStart, QWidget *parent)
    : QWidget(parent), m_greyStart(greyStart), m_whiteStart(whiteStart)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void EngravedLine::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // The white line is two pixels wide and lies under the grey one, so only
    // its lower row shows except where the grey line does not reach.
    painter.fillRect(QRect(m_whiteStart, 0, width() - m_whiteStart, 2), Qt::white);
    painter.fillRect(QRect(m_greyStart, 0, width() - m_greyStart, 1), QColor(128, 128, 128));
}
