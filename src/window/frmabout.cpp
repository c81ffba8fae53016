#include "window/frmabout.h"

#include "window/homepage.h"
#include "window/classicstyle.h"
#include "window/messageseam.h"
#include "window/twips.h"

#include <QLabel>
#include <QPushButton>

#include <tuple>

namespace {

// Fixed colours, so that a dark desktop theme cannot recolour them.
void setColor(QWidget *widget, QPalette::ColorRole role, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

QLabel *placeLabel(QWidget *parent, const char *name, const QRect &geometry, const QString &text,
                   const QColor &color = {})
{
    auto *label = place<QLabel>(parent, name, geometry, text);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (color.isValid())
        setColor(label, QPalette::WindowText, color);
    return label;
}

} // namespace

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Varnet"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(twipsToPixels(5655), twipsToPixels(3390));

    // The boxes were sized for the small classic dialog font; a larger
    // desktop font would cut the description and the warning short.
    const QFont dialogFont = classicFont(8.25);
    setFont(dialogFont);

    auto *cmdOK =
        place<QPushButton>(this, "cmdOK", twipsRect(4245, 2880, 1260, 390), QStringLiteral("OK"));
    cmdOK->setDefault(true);

    // A sunken two-pixel border around the 32 x 32 picture makes up the box.
    auto *picIcon = place<QLabel>(this, "picIcon", twipsRect(240, 240, 540, 540));
    picIcon->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picIcon->setLineWidth(2);
    picIcon->setAlignment(Qt::AlignCenter);
    picIcon->setPixmap(QPixmap(picturePath("abouticon.png")));

    placeLabel(this, "lblDescription", twipsRect(1050, 1125, 3885, 1050),
               QStringLiteral("Send file directly to selected printerspooler or TCP-Port. If you "
                              "send big files, the processing will take several minutes. Some "
                              "spooler check the datas, this can provocate an error. In this "
                              "case, try Windows Generic Driver."),
               Qt::black);
    placeLabel(this, "lblDisclaimer", twipsRect(240, 2400, 3870, 420),
               QStringLiteral("Warning: No warranty. If you send firmware updates "
                              "to a printer you do it at your own risc!"),
               QColor(255, 0, 0));
    placeLabel(this, "lblTitle", twipsRect(1050, 240, 3885, 480), QStringLiteral("Varnet"),
               Qt::black);
    placeLabel(this, "lblVersion", twipsRect(1050, 780, 3885, 225), QStringLiteral("Version 2.4"));

    auto *Command1 =
        place<QPushButton>(this, "Command1", twipsRect(240, 2880, 3975, 375), HomePage::address());
    QFont linkFont = dialogFont;
    linkFont.setUnderline(true);
    Command1->setFont(linkFont);

    // The separator looks cut into the dialog: on the row at 2280 twips a
    // grey line from 90 twips lies over a two-pixel white one from 105, whose
    // lower row shows. Both end at 5520.
    for (const auto &[left, height, colour] :
         {std::tuple{105, 2, QColor(Qt::white)}, {90, 1, QColor(128, 128, 128)}}) {
        auto *line = new QWidget(this);
        line->setGeometry(twipsToPixels(left), twipsToPixels(2280),
                          twipsToPixels(5520) - twipsToPixels(left), height);
        line->setAutoFillBackground(true);
        setColor(line, QPalette::Window, colour);
    }

    // The picture box is a tab stop of its own, between OK and the link;
    // the labels take no focus.
    picIcon->setFocusPolicy(Qt::TabFocus);
    QWidget::setTabOrder(cmdOK, picIcon);
    QWidget::setTabOrder(picIcon, Command1);
    cmdOK->setFocus();

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(Command1, &QPushButton::clicked, this, &frmAbout::Command1_Click);
}

void frmAbout::cmdOK_Click()
{
    // Escape reaches QDialog::reject, which closes the box the same way.
    close();
}

void frmAbout::Command1_Click()
{
    if (!HomePage::open())
        MessageSeam::show(this, QStringLiteral("The home page %1 could not be opened: no web "
                                               "browser is available to show it.")
                                    .arg(HomePage::address()));
}
