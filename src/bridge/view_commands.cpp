#include "view_commands.h"

#include "app_settings.h"
#include "command_context.h"
#include "page_access.h"
#include "vexa.h"
#include "program_locations.h"
#include "runtime_log.h"
#include "window_ops.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLoggingCategory>
#include <QUrl>

Q_LOGGING_CATEGORY(lcViewCommands, "vexa.bridge.view")

namespace ViewCommands {

QString applicationFileUrl(const QString &relative)
{
    const QString applicationDir = QCoreApplication::applicationDirPath();
    const QString path = applicationDir + relative;
    const QString url = QStringLiteral("file://") + (path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path);
    // "/../elsewhere/page.html" would show a page the folder does not hold, and the browser
    // would clean the path before anyone looked at it again; a profile shown as a page would run
    // whatever an import left in it.
    if (!vexa_runtime::isApplicationPage(url, applicationDir)) {
        const QString refusal = QStringLiteral("%1 refused: not one of the page's own documents").arg(url);
        qCWarning(lcViewCommands).noquote() << refusal;
        CEF_LOG_WARNING(refusal);
        return QString();
    }
    return url;
}

bool isExternalAddress(const QUrl &url)
{
    if (!url.isValid() || url.isRelative())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return !url.host().isEmpty();
    if (scheme == QLatin1String("mailto") || scheme == QLatin1String("spotify"))
        return !url.path().isEmpty();
    return false;
}

QSize parseViewSize(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    // Pages have sent a width alone; the height is then 0 rather than read from past the list.
    const int width = parts.value(0).toInt();
    const int height = parts.value(1).toInt();
    return QSize(width, height);
}

QString refusedPageText(const QString &relative)
{
    return QStringLiteral("%1 is not a page of vexa: only its own pages can be shown").arg(relative.left(200));
}

QSize fitViewSize(const QSize &asked, const QRect &screens)
{
    const QSize limit = screens.isEmpty() ? QSize(1 << 15, 1 << 15) : screens.size();
    return QSize(qBound(0, asked.width(), limit.width()), qBound(0, asked.height(), limit.height()));
}

namespace {

void openUrl(vexa &, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"url"}))
        return;
    const QUrl url(args.toText(QStringLiteral("url")), QUrl::TolerantMode);
    if (isExternalAddress(url)) {
        QDesktopServices::openUrl(url);
    } else {
        const QString refusal = QStringLiteral("openUrl: %1 not handed to the desktop: not a web or mail address")
                                    .arg(args.toText(QStringLiteral("url")));
        qCWarning(lcViewCommands).noquote() << refusal;
        CEF_LOG_WARNING(refusal);
    }
    // Answered the same whether or not anything took the address.
    replySuccess(callback, QStringLiteral("open successed"));
}

void saveFileDialog(vexa &window, const CommandArgs &, const QueryCallbackPtr &callback)
{
    const QString path = QFileDialog::getSaveFileName(&window, QStringLiteral("Save"), platform::documentsFolder(),
                                                      QStringLiteral("pfd(*.pfd)"));
    if (!path.isEmpty())
        replySuccess(callback, path);
}

void openFileDialog(vexa &window, const CommandArgs &, const QueryCallbackPtr &callback)
{
    const QString path = QFileDialog::getOpenFileName(&window, QStringLiteral("Open"), platform::documentsFolder(),
                                                      QStringLiteral("pfd(*.pfd)"));
    if (!path.isEmpty())
        replySuccess(callback, path);
}

void openFileDialogExe(vexa &window, const CommandArgs &, const QueryCallbackPtr &callback)
{
    // Mode bindings compare this path with the running programs' paths, so it must be
    // written the way the platform writes them.
    const QString path = WindowOps::chooseProgramFile(&window, QStringLiteral("Open"), platform::documentsFolder(),
                                                      QStringLiteral("(*.exe)"));
    if (!path.isEmpty())
        replySuccess(callback, path);
}

void openView(vexa &window, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"relativeUrl", "size"}))
        return;
    const QString relative = args.toText(QStringLiteral("relativeUrl"));
    const QString url = applicationFileUrl(relative);
    if (url.isEmpty()) {
        replyFailure(callback, 0, refusedPageText(relative));
        return;
    }
    window.openView(url, fitViewSize(parseViewSize(args.toText(QStringLiteral("size"))), WindowOps::screensArea()));
}

void closeView(vexa &window, const CommandArgs &, const QueryCallbackPtr &)
{
    window.closeView();
}

void closeApp(vexa &window, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    // The page's part in the tray's Exit (vexa::kTrayExitMessage); its own close button never
    // sends "exit", and a page that knows nothing of it closes as "closeFunc" says.
    if (!window.exitAnswered(args.toText(QStringLiteral("exit")))) {
        const SettingsMap settings = window.context().settings().map();
        const auto closeFunc = settings.constFind(QStringLiteral("closeFunc"));
        if (closeFunc != settings.constEnd()) {
            if (*closeFunc == QLatin1String("closeapp")) {
                window.context().quitApplication();
            } else {
                // Into the tray; the program goes on running.
                window.quitApp();
            }
        }
    }
    replySuccess(callback, QStringLiteral("modify conf sucess"));
}

void confChanged(vexa &window, const CommandArgs &, const QueryCallbackPtr &callback)
{
    CommandContext &context = window.context();
    if (!context.hasProcessMonitor())
        return;
    // The new monitor reads the binding file, which may be among the unsaved files: a save that
    // failed leaves it watching the bindings it had, and the page must not be told otherwise.
    QString error;
    if (!context.saveModifiedProfiles(&error)) {
        CEF_LOG_WARNING(QStringLiteral("confChanged: %1").arg(error));
        replyFailure(callback, 0, QStringLiteral("confChanged save failed!"));
        return;
    }
    context.restartProcessMonitor();
    replySuccess(callback, QStringLiteral("confChanged"));
}

} // namespace

void registerCommands(CommandRegistry &registry, vexa &window)
{
    registry.addAll(window,
                    {
                        {"closeApp", closeApp},             {"saveFileDialog", saveFileDialog},
                        {"openFileDialog", openFileDialog}, {"openUrl", openUrl},
                        {"openFileDialogExe", openFileDialogExe}, {"confChanged", confChanged},
                        {"openView", openView},             {"closeView", closeView},
                    },
                    &window);
}

} // namespace ViewCommands
