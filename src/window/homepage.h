#pragma once

#include <QString>

#include <functional>

class QUrl;

// The maker's home page, shown on the About box's button and opened in the
// user's browser.
namespace HomePage {

QString address(); // CMake cache variable VARNET_HOME_PAGE
// False when nothing could show the address.
using Opener = std::function<bool(const QUrl &)>;
// Replaces the browser hand-over, for tests; an empty opener restores it.
void setOpener(Opener opener);
bool open();

} // namespace HomePage
