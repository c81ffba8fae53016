#include "window/dialogfilechooser.h"

#include <QFileDialog>

QString DialogFileChooser::chooseExistingFile(const Request &request)
{
    QFileDialog dialog(m_owner, request.title, request.startFolder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(request.nameFilters);
    if (!request.nameFilters.isEmpty())
        dialog.selectNameFilter(request.nameFilters.constFirst());
    if (!request.initialName.isEmpty())
        dialog.selectFile(request.initialName);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}
