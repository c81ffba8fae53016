#pragma once

#include <QString>

// The command line names one file; quotes only group its parts, so every
// double quote goes, wherever it stands. Everything else stays, blanks too.
inline QString stripDoubleQuotes(const QString &commandLine)
{
    return QString(commandLine).remove(u'"');
}
