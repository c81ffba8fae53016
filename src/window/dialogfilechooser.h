#pragma once

#include "core/filechooser.h"

class QWidget;

// The real Open dialog: a modal QFileDialog that takes one existing file.
class DialogFileChooser : public FileChooser
{
public:
    explicit DialogFileChooser(QWidget *owner) : m_owner(owner) {}
    QString chooseExistingFile(const Request &request) override;

private:
    QWidget *m_owner;
};
