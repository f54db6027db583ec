#include "profile_paths.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool inside(const QString &path, const QString &folder)
{
    return path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
}

} // namespace

ProfilePaths::ProfilePaths(const QString &applicationDir)
    : m_applicationDir(applicationDir), m_cleanApplicationDir(QDir::cleanPath(applicationDir))
{
    m_canonicalApplicationDir = QFileInfo(m_cleanApplicationDir).canonicalFilePath();
    if (m_canonicalApplicationDir.isEmpty())
        m_canonicalApplicationDir = m_cleanApplicationDir;
    m_settingsFile = m_canonicalApplicationDir + QStringLiteral("/Resources/profiles/conf.xml");
}

QString ProfilePaths::resolve(const QString &relative) const
{
    if (relative.contains(QLatin1Char('\0')))
        return QString();
    const QString clean = QDir::cleanPath(m_applicationDir + QLatin1Char('/') + relative);
    if (!inside(clean, m_cleanApplicationDir))
        return QString();
    const QString canonical = QFileInfo(clean).canonicalFilePath();
    if (canonical.isEmpty())
        return clean;
    return inside(canonical, m_canonicalApplicationDir) ? canonical : QString();
}

bool ProfilePaths::mayChange(const QString &fullPath) const
{
    // The program's executables, libraries and the page's scripts and markup live in the same
    // folder; only XML files are profiles. The settings file is XML too, but the application
    // holds its text and rewrites it whole, so an edit made here would be lost or lose its own.
    return fullPath.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive) && fullPath != m_settingsFile;
}

bool ProfilePaths::mayExportTo(const QString &desFilePath) const
{
    // A package goes where the user chose, but never over one of the program's own files.
    const QFileInfo info(desFilePath);
    QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (folder.isEmpty())
        folder = QDir::cleanPath(info.absolutePath());
    return !inside(folder + QLatin1Char('/'), m_canonicalApplicationDir)
        || info.fileName().endsWith(QLatin1String(".pfd"), Qt::CaseInsensitive);
}
