#include "about/frmabout.h"
#include "app/varnet.h"
#include "app/windowplacement.h"

#include <QPointer>

void Varnet::About_Click()
{
    // One box for the whole program. It has no owner, so the main window
    // stays usable and either window may be closed first; the box's own
    // deletion on close clears the pointer for the next request.
    static QPointer<frmAbout> box;
    if (!box) {
        box = new frmAbout;
        // The frame's size is known only once the window is shown; centring
        // again then keeps the title bar in the sum.
        centerOnScreen(box);
        box->show();
        centerOnScreen(box);
    }
    box->show();
    box->raise();
    box->activateWindow();
}
