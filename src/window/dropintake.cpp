#include "window/dropintake.h"

#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <algorithm>

namespace {

const char *const refuserProperty = "varnetRefusesDrops";

// A copy never lets a file manager delete what it dragged here.
void acceptAsCopy(QDropEvent *event)
{
    if (event->possibleActions() & Qt::CopyAction)
        event->setDropAction(Qt::CopyAction);
    event->accept();
}

QString firstLocalFile(const QMimeData *data)
{
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    const auto file =
        std::find_if(urls.cbegin(), urls.cend(), [](const QUrl &url) { return url.isLocalFile(); });
    return file == urls.cend() ? QString() : QDir::toNativeSeparators(file->toLocalFile());
}

} // namespace

DropIntake::DropIntake(QLineEdit *pathBox, std::function<void()> load,
                       std::initializer_list<QWidget *> targets,
                       std::initializer_list<QWidget *> refusers, QObject *parent)
    : QObject(parent), m_pathBox(pathBox), m_load(std::move(load))
{
    // A widget that does not accept drops hands the drag on to its parent,
    // the window background, which would take it; so refusers accept drops
    // only to turn them away.
    for (QWidget *refuser : refusers)
        refuser->setProperty(refuserProperty, true);
    for (const auto &widgets : {targets, refusers}) {
        for (QWidget *widget : widgets) {
            widget->setAcceptDrops(true);
            widget->installEventFilter(this);
        }
    }
}

bool DropIntake::eventFilter(QObject *watched, QEvent *event)
{
    // Every event handled here is a QDropEvent (QDragEnterEvent and
    // QDragMoveEvent derive from it).
    const auto drop = [event] { return static_cast<QDropEvent *>(event); };
    switch (event->type()) {
    case QEvent::DragEnter:
        // Even a refuser takes the enter: that makes it the drag's target, so
        // the drag stops here instead of travelling on to the background.
        // Its answer to the moves that follow shows the no-drop cursor.
        acceptAsCopy(drop());
        return true;
    case QEvent::DragMove:
    case QEvent::Drop:
        if (watched->property(refuserProperty).toBool()) {
            event->ignore();
            return true;
        }
        acceptAsCopy(drop());
        if (event->type() == QEvent::Drop) {
            // Text, pictures and other data never reach the path box; the
            // file named there is loaded again all the same.
            if (const QString path = firstLocalFile(drop()->mimeData()); !path.isEmpty())
                m_pathBox->setText(path);
            m_load();
        }
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}
