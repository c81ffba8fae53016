#pragma once

#include <QString>

#include <functional>

class QUrl;

// The maker's home page: the About box shows its address on a button and
// opens it in the user's browser.
namespace HomePage {

// Fixed when the program is built (CMake cache variable VARNET_HOME_PAGE).
QString address();

// Returns false when nothing could show the address.
using Opener = std::function<bool(const QUrl &)>;

// Replaces the browser hand-over, for tests; an empty opener restores it.
void setOpener(Opener opener);

bool open();

} // namespace HomePage
