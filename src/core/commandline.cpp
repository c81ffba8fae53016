#include "core/commandline.h"

QString stripDoubleQuotes(const QString &commandLine)
{
    return QString(commandLine).remove(u'"');
}
