#pragma once

#include "filechooser.h"

// The real Open dialog: a modal QFileDialog that takes one existing file.
class DialogFileChooser : public FileChooser
{
public:
    QString chooseExistingFile(const Request &request) override;
};
