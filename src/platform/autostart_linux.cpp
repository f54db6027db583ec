// Desktop sessions that follow the XDG autostart convention start every *.desktop entry found in
// $XDG_CONFIG_HOME/autostart at log-in.
#include "autostart.h"

#include "atomic_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace platform {

namespace {

// The entry is named after the program. Earlier versions named it "marlith": that entry is
// replaced when the setting is turned on and removed when it is turned off, so none is left
// starting the program on its own.
const char kEntryName[] = "vexa";
const char kOldEntryName[] = "marlith";
// The session's list of start-up programs shows these: the name and icon of the installed
// package's own desktop entry, not the entry's file name.
const char kShownName[] = "vexa";
const char kIconName[] = "vexa";

QString configHome()
{
    const QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
    // Relative values are invalid by the convention and must be ignored.
    if (!xdg.isEmpty() && QDir::isAbsolutePath(QString::fromLocal8Bit(xdg)))
        return QString::fromLocal8Bit(xdg);
    return QDir::homePath() + QStringLiteral("/.config");
}

// An Exec argument inside double quotes: the quoting rule escapes " ` $ \ with a backslash, the
// string-value rule then doubles every backslash, and a literal % is written %%.
QString quotedExecArgument(const QString &path)
{
    QString quoted;
    for (const QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// Started by the installed launcher, the program runs from the user's copy of the application
// folder; the entry names the launcher, so that a log-in start also brings that copy up to a
// newer package.
QString programToStart()
{
    const QString launcher = QFile::decodeName(qgetenv("VEXA_LAUNCHER"));
    const QFileInfo info(launcher);
    if (!launcher.isEmpty() && info.isAbsolute() && info.isFile() && info.isExecutable())
        return launcher;
    return QCoreApplication::applicationFilePath();
}

bool fail(QString *error, const QString &what, const QString &path, const QString &why)
{
    if (error)
        *error = QStringLiteral("cannot %1 %2: %3").arg(what, path, why);
    return false;
}

QString entryPath(const char *name)
{
    return configHome() + QStringLiteral("/autostart/") + QLatin1String(name) + QStringLiteral(".desktop");
}

} // namespace

QString autostartLocation()
{
    return entryPath(kEntryName);
}

bool setAutostart(bool enable, QString *error)
{
    const QString path = autostartLocation();
    const QString old = entryPath(kOldEntryName);
    if (!enable) {
        // An entry under the program's old name goes too; only the current one can fail the change.
        QFile::remove(old);
        QFile entry(path);
        if (entry.remove())
            return true;
        // Nothing there (a dangling link is something: the session would still try it).
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink())
            return true;
        return fail(error, QStringLiteral("remove"), path, entry.errorString());
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(error, QStringLiteral("write"), path, QStringLiteral("the folder %1 cannot be made").arg(folder));
    const QString exec = quotedExecArgument(programToStart()) + QStringLiteral(" -autostart");
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=%1\n"
                                         "Comment=PX-ORB42 pad settings, started hidden in the notification area\n"
                                         "Icon=%3\n"
                                         "Exec=%2\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(QLatin1String(kShownName), exec, QLatin1String(kIconName));
    // The old entry goes only once the new one is there: a failed write leaves the start as it was.
    if (!writeFileAtomically(path, entry.toUtf8(), error))
        return false;
    QFile::remove(old);
    return true;
}

} // namespace platform
