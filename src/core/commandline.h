#pragma once

#include <QString>

// The command line names one file; quotes only group its parts, so every
// double quote goes, wherever it stands. Everything else stays, blanks too.
QString stripDoubleQuotes(const QString &commandLine);
