#include "window/homepage.h"

#include <QDesktopServices>
#include <QUrl>

static HomePage::Opener currentOpener;

QString HomePage::address()
{
    return QStringLiteral(VARNET_HOME_PAGE);
}

void HomePage::setOpener(Opener opener)
{
    currentOpener = std::move(opener);
}

bool HomePage::open()
{
    const QUrl url(address());
    return currentOpener ? currentOpener(url) : QDesktopServices::openUrl(url);
}
