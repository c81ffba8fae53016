#include "window/homepage.h"

#include <QDesktopServices>
#include <QUrl>

#ifndef VARNET_HOME_PAGE
#error "VARNET_HOME_PAGE must be set by the build"
#endif

namespace {

HomePage::Opener currentOpener;

} // namespace

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
    if (currentOpener)
        return currentOpener(url);
    return QDesktopServices::openUrl(url);
}
