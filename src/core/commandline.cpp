#include "core/commandline.h"

QString stripDoubleQuotes(const QString &commandLine)
{
    QString path = commandLine;
    path.remove(QLatin1Char('"'));
    return path;
}
