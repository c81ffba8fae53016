#include "window/varnet.h"

#include "core/filechooser.h"
#include "core/fileloader.h"
#include "core/module1.h"
#include "window/messageseam.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>

namespace {

// The real Open dialog: a modal QFileDialog that takes one existing file.
class DialogFileChooser final : public FileChooser
{
public:
    explicit DialogFileChooser(QWidget *owner) : m_owner(owner) {}

    QString chooseExistingFile(const Request &request) override
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

private:
    QWidget *m_owner;
};

} // namespace

void Varnet::Command1_Click()
{
    if (!m_fileChooser) {
        if (!m_ownFileChooser)
            m_ownFileChooser = std::make_unique<DialogFileChooser>(this);
        m_fileChooser = m_ownFileChooser.get();
    }

    // The dialog opens where the last choice was made, kept here: moving the
    // current directory would move every relative path we are given.
    const QChar separator = QDir::separator();
    QString folder =
        m_startFolder.isEmpty() ? QDir::toNativeSeparators(QDir::currentPath()) : m_startFolder;

    const QString name = Module1::OpenDialog(*m_fileChooser, QStringLiteral("Open file"),
                                             folder, QString(), QStringLiteral("All|*.*"),
                                             QString());
    // A cancel leaves the window exactly as it was.
    if (name.isEmpty())
        return;

    if (!folder.endsWith(separator))
        folder += separator;
    m_startFolder = folder;
    Text2->setText(folder + name);
    OpenFi();
}

SendResult Varnet::OpenFi()
{
    FileLoader::Result result = FileLoader::load(Text2->text());
    if (result.outcome == SendOutcome::Delivered) {
        Druckertext = std::move(result.content);
        Text1->setText(FileLoader::sizeText(result.size));
        Text1->repaint();
    } else if (!result.sentence.empty()) {
        MessageSeam::show(this, QString::fromStdString(result.sentence), QString(),
                          QMessageBox::Warning);
    } // else silent: the new path simply stands beside the old size.
    repaint();
    return result;
}
