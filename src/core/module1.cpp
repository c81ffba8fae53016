#include "core/module1.h"

#include "core/filechooser.h"
#include "platform/platform.h"

#include <QDir>

namespace Module1 {

QString convertFilter(const QString &filter)
{
    QString converted = filter + QStringLiteral("||");
    converted.replace(QLatin1Char('|'), QChar(u'\0'));
    return converted;
}

QStringList nameFilters(const QString &convertedFilter, PatternRules rules)
{
    const QStringList parts = convertedFilter.split(QChar(u'\0'));
    QStringList filters;
    // Up to the first pair with an empty part, as the closing NULs make one.
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString &description = parts.at(i);
        if (description.isEmpty() || parts.at(i + 1).isEmpty())
            break;
        QStringList patterns = parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString &pattern : patterns) {
            pattern = pattern.trimmed();
            if (rules == PatternRules::Unix && pattern == QLatin1String("*.*"))
                pattern = QStringLiteral("*");
        }
        filters.append(description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')'));
    }
    return filters;
}

FolderAndName splitAtFolder(const QString &path, QChar separator)
{
    const qsizetype nameStart = path.lastIndexOf(separator) + 1;
    return {path.left(nameStart), path.mid(nameStart)};
}

QString OpenDialog(FileChooser &chooser, const QString &title,
                   QString &startFolder, const QString &fileName, const QString &filter,
                   const QString &defaultExtension)
{
    const PatternRules rules =
        platform::starDotStarMeansAll ? PatternRules::Windows : PatternRules::Unix;
    const FileChooser::Request request{title, startFolder, fileName,
                                       nameFilters(convertFilter(filter), rules), defaultExtension};
    const QString path = QDir::toNativeSeparators(chooser.chooseExistingFile(request));
    if (path.isEmpty())
        return QString();
    auto [folder, name] = splitAtFolder(path, QDir::separator());
    startFolder = folder;
    return name;
}

} // namespace Module1
