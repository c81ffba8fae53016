#pragma once

#include <QApplication>
#include <QList>
#include <QWidget>

// The open top-level windows of one kind.
template <typename T>
QList<T *> topLevels()
{
    QList<T *> found;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *window = qobject_cast<T *>(widget))
            found.append(window);
    return found;
}

// A control by its classic object name; without it the test cannot go on.
template <typename T>
T *control(const QObject *parent, const char *name)
{
    T *found = parent->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("control %s missing", name);
    return found;
}
