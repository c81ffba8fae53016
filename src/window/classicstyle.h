#pragma once

#include <QFont>
#include <QString>

class QWidget;

// The classic dialog font at the given size. Where it is not installed the
// nearest sans serif of that size stands in, so captions fit their boxes.
QFont classicFont(qreal pointSize);

// The path of one of the program's own pictures ("banner.png").
QString picturePath(const char *name);

// Places a top-level window, frame included, in the middle of its screen,
// and again once a window manager has put its frame around it.
void centerOnScreen(QWidget *window);
