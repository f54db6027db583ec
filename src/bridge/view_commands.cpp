#include "view_commands.h"

#include "cefapplication.h"
#include "window_ops.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QUrl>

namespace ViewCommands {

namespace {

QString documentsFolder()
{
    return QDir::homePath() + QStringLiteral("/Documents");
}

// "file:///" + application folder + relative path, the relative path starting with "/".
QString applicationFileUrl(const QString &relative)
{
    const QString path = QCoreApplication::applicationDirPath() + relative;
    return QStringLiteral("file://") + (path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path);
}

} // namespace

QSize parseViewSize(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    // Pages have sent a width alone; the height is then 0 rather than read from past the list.
    const int width = parts.value(0).toInt();
    const int height = parts.value(1).toInt();
    return QSize(width, height);
}

void openUrl(vexa &, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"url"}))
        return;
    QDesktopServices::openUrl(QUrl(args.toText(QStringLiteral("url")), QUrl::TolerantMode));
    // Answered the same whether or not anything took the address.
    vexa::replySuccess(callback, QStringLiteral("open successed"));
}

void saveFileDialog(vexa &window, const CommandArgs &, const vexa::Callback &callback)
{
    const QString path = QFileDialog::getSaveFileName(&window, QStringLiteral("Save"), documentsFolder(),
                                                      QStringLiteral("pfd(*.pfd)"));
    if (!path.isEmpty())
        vexa::replySuccess(callback, path);
}

void openFileDialog(vexa &window, const CommandArgs &, const vexa::Callback &callback)
{
    const QString path = QFileDialog::getOpenFileName(&window, QStringLiteral("Open"), documentsFolder(),
                                                      QStringLiteral("pfd(*.pfd)"));
    if (!path.isEmpty())
        vexa::replySuccess(callback, path);
}

void openFileDialogExe(vexa &window, const CommandArgs &, const vexa::Callback &callback)
{
    // Mode bindings compare this path with the running programs' paths, so it must be
    // written the way the platform writes them.
    const QString path = WindowOps::chooseProgramFile(&window, QStringLiteral("Open"), documentsFolder(),
                                                      QStringLiteral("(*.exe)"));
    if (!path.isEmpty())
        vexa::replySuccess(callback, path);
}

void openView(vexa &window, const CommandArgs &args, const vexa::Callback &)
{
    if (!args.hasAll({"relativeUrl", "size"}))
        return;
    window.openView(applicationFileUrl(args.toText(QStringLiteral("relativeUrl"))),
                    parseViewSize(args.toText(QStringLiteral("size"))));
}

void closeView(vexa &window, const CommandArgs &, const vexa::Callback &)
{
    window.closeView();
}

void closeApp(vexa &window, const CommandArgs &, const vexa::Callback &callback)
{
    const cefApplication *app = cefApplication::instance();
    const SettingsMap settings = app ? app->settings() : SettingsMap();
    const auto closeFunc = settings.constFind(QStringLiteral("closeFunc"));
    if (closeFunc != settings.constEnd()) {
        if (*closeFunc == QLatin1String("closeapp")) {
            window.saveModifiedProfiles();
            requestQuit();
        } else {
            // Into the tray; the program goes on running.
            window.quitApp();
        }
    }
    vexa::replySuccess(callback, QStringLiteral("modify conf sucess"));
}

void confChanged(vexa &window, const CommandArgs &, const vexa::Callback &callback)
{
    if (!window.hasProcessMonitor())
        return;
    // The new monitor reads the binding file, which may be among the unsaved files.
    window.saveModifiedProfiles();
    window.restartProcessMonitor();
    vexa::replySuccess(callback, QStringLiteral("confChanged"));
}

void checkUpdate(vexa &, const CommandArgs &, const vexa::Callback &callback)
{
    // No update check exists yet; the page only learns that the request was taken.
    vexa::replySuccess(callback, QStringLiteral("checkUpdate success"));
}

} // namespace ViewCommands
