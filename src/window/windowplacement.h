#pragma once

class QWidget;

// Places a top-level window, frame included, in the middle of its screen.
void centerOnScreen(QWidget *window);
