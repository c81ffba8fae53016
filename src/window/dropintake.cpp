#include "window/varnet.h"

#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>

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

} // namespace

void Varnet::acceptFileDrops()
{
    // A widget that does not accept drops hands the drag on to its parent,
    // the window background, which would take it; so the TCP controls accept
    // drops only to turn them away.
    const std::initializer_list<QWidget *> refusers{Command3, Label4, IP, Port, Option1, Option2};
    for (QWidget *refuser : refusers)
        refuser->setProperty(refuserProperty, true);
    for (const auto &widgets : {{centralWidget(), Text2, Text1, Combo1, Command1, Command2, Image1,
                                 Label1, Label2, Label3},
                                refusers}) {
        for (QWidget *widget : widgets) {
            widget->setAcceptDrops(true);
            widget->installEventFilter(this);
        }
    }
}

// The first local file dropped goes into Text2 and is loaded.
bool Varnet::filterDrop(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return false;
    // Even a refuser takes the enter: that makes it the drag's target, so the
    // drag stops here instead of travelling on to the background; its answer
    // to the moves that follow shows the no-drop cursor.
    if (type != QEvent::DragEnter && watched->property(refuserProperty).toBool()) {
        event->ignore();
        return true;
    }
    auto *drop = static_cast<QDropEvent *>(event); // drag events derive from it
    acceptAsCopy(drop);
    if (type == QEvent::Drop) {
        // Only a local file reaches the path box; what it names is loaded
        // again all the same.
        const QList<QUrl> urls = drop->mimeData() ? drop->mimeData()->urls() : QList<QUrl>();
        const auto file = std::ranges::find_if(urls, &QUrl::isLocalFile);
        if (file != urls.cend() && !file->toLocalFile().isEmpty())
            Text2->setText(QDir::toNativeSeparators(file->toLocalFile()));
        OpenFi();
    }
    return true;
}
