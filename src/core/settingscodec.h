#pragma once

#include <QString>
#include <optional>

// "Opt" holds whether the printer queue is the destination. Shutdown writes
// "True" or "False"; older or hand-edited stores may hold a number.
std::optional<bool> optFromText(const QString &text);
QString optToText(bool printerQueue);
