#include "window/dropintake.h"

#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace {

const char *const refuserProperty = "varnetRefusesDrops";

// A copy never lets a file manager delete what it dragged here.
void acceptAsCopy(QDropEvent *event)
{
    if (event->possibleActions() & Qt::CopyAction)
        event->setDropAction(Qt::CopyAction);
    event->accept();
}

} // namespace

DropIntake::DropIntake(QLineEdit *pathBox, std::function<void()> load, QObject *parent)
    : QObject(parent), m_pathBox(pathBox), m_load(std::move(load))
{
}

void DropIntake::addTargets(std::initializer_list<QWidget *> targets)
{
    for (QWidget *target : targets) {
        target->setAcceptDrops(true);
        target->installEventFilter(this);
    }
}

void DropIntake::addRefusers(std::initializer_list<QWidget *> refusers)
{
    // A widget that does not accept drops hands the drag on to its parent,
    // the window background, which would take it; so refusers accept drops
    // only to turn them away.
    for (QWidget *refuser : refusers) {
        refuser->setAcceptDrops(true);
        refuser->setProperty(refuserProperty, true);
        refuser->installEventFilter(this);
    }
}

QString DropIntake::firstLocalFile(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return QString();
    const QList<QUrl> urls = data->urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            return QDir::toNativeSeparators(url.toLocalFile());
    }
    return QString();
}

bool DropIntake::eventFilter(QObject *watched, QEvent *event)
{
    const bool refuses = watched->property(refuserProperty).toBool();
    switch (event->type()) {
    case QEvent::DragEnter:
        // Even a refuser takes the enter: that makes it the drag's target, so
        // the drag stops here instead of travelling on to the background.
        // Its answer to the moves that follow shows the no-drop cursor.
        acceptAsCopy(static_cast<QDropEvent *>(event));
        return true;
    case QEvent::DragMove:
        if (refuses)
            event->ignore();
        else
            acceptAsCopy(static_cast<QDropEvent *>(event));
        return true;
    case QEvent::Drop:
        if (refuses) {
            event->ignore();
        } else {
            acceptAsCopy(static_cast<QDropEvent *>(event));
            take(static_cast<QDropEvent *>(event));
        }
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

void DropIntake::take(QDropEvent *event)
{
    // Text, pictures and other data never reach the path box; the file named
    // there is loaded again all the same.
    const QString path = firstLocalFile(event->mimeData());
    if (!path.isEmpty())
        m_pathBox->setText(path);
    m_load();
}
