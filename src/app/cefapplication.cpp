#include "cefapplication.h"

#include "autostart.h"
#include "client_handler.h"
#include "crash_handler.h"
#include "device_commands.h"
#include "device_rom.h"
#include "devices_handler.h"
#include "hook_handler.h"
#include "install_records.h"
#include "instance_channel.h"
#include "mode_bindings.h"
#include "mouse_commands.h"
#include "page_events.h"
#include "page_install.h"
#include "process_moniter.h"
#include "profile_commands.h"
#include "profile_store.h"
#include "pspecific_wnd.h"
#include "router_handler.h"
#include "runtime_log.h"
#include "settings_commands.h"
#include "settings_rules.h"
#include "running_lock.h"
#include "termination_signals.h"
#include "update_commands.h"
#include "update_resources.h"
#include "updatesystem.h"
#include "vexa.h"
#include "window_ops.h"
#include "window_search.h"

#include <QFile>
#include <QLocalServer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <memory>


namespace {
std::atomic<bool> g_quitRequested{false};
std::atomic<int> g_exitCode{0};

// How long a second start waits for the running vexa's answer.
constexpr int kProbeAnswerMs = 5000;

// A download looks at its cancel flag every few tens of milliseconds; this only bounds a thread
// stuck in the file system.
constexpr int kDownloadStopMs = 3000;

// After a flash: the pad list is looked at this often, for at most this many times (15 s, as
// long as the pad takes to restart at its slowest).
constexpr int kPadWatchIntervalMs = 200;
constexpr int kPadWatchPolls = 75;

// Events of a program that has no page to tell.
class NoPageEvents : public PageEvents {
public:
    void devicesChanged(int) override {}
    void onDeviceData(const QString &) override {}
    void currentPropChanged(int, int) override {}
    void macroItem(const QString &, const QString &, const QString &, const QString &) override {}
    void onProcessChanged(const QString &, bool) override {}
    void navStateChanged(bool, bool) override {}
    void onBrowserMsg(const QString &) override {}
};
NoPageEvents g_noPageEvents;

} // namespace

void requestQuit(int exitCode)
{
    if (g_quitRequested.exchange(true))
        return;
    g_exitCode = exitCode;
    if (QCoreApplication::instance())
        QCoreApplication::exit(exitCode);
}

int requestedExitCode()
{
    return g_exitCode.load();
}

bool quitRequested()
{
    return g_quitRequested.load();
}

cefApplication::cefApplication(int &argc, char **argv, PageEvents *events)
    : QApplication(argc, argv), m_events(events ? events : &g_noPageEvents)
{
    loadSettings();
    m_devicesHandler = new devices_handler(m_events, this);
    // Runs on library threads until the handler is deleted, which waits for it: the device
    // table it fills outlives the handler (the destructor deletes the handler first).
    m_devicesHandler->setRefresh([this] { refreshDeviceMap(); });
    refreshDeviceMap();

    const QString applicationDir = QCoreApplication::applicationDirPath();
    m_profiles.reset(new ProfileStore(applicationDir));
    m_processMonitor.reset(new ProcessMonitorThread(ModeBindings::configurationPath(applicationDir), m_events));
    m_recorder.reset(new MacroRecorder(m_events));
    m_pads.reset(new Pads{*m_devicesHandler, *this});
    registerDeviceCommands(m_commands, *m_pads);
    m_profileCommands.reset(new Profiles{*m_profiles, resetOwnDoubleClickTime});
    registerProfileCommands(m_commands, *m_profileCommands);
    registerMouseCommands(m_commands);
    registerRecorderCommands(m_commands, *m_recorder);
    registerUpdateCommands(m_commands, [this] { runUpdateCheck(true); });
    for (int i = 0; i < argc; ++i)
        if (qstrcmp(argv[i], "-autostart") == 0)
            m_autostart = true;
    m_serverName = instance_channel::serverName();
    m_probeSocket = new QLocalSocket(this);
    m_instanceServer = new instance_channel::InstanceServer([this] { showMainWindow(); }, this);
}

cefApplication::~cefApplication()
{
    // The client outlives the application object.
    if (CefRefPtr<ClientHandler> handler = ClientHandler::current())
        handler->SetMainLoadStartHandler({});
    m_probeSocket->close();
    // A dialog is a window: it must go while the application object is whole.
    delete m_updateCheck;
    m_updateCheck = nullptr;
    // The window and its browser view go before the runtime shuts down (after this returns).
    delete m_mainWindow;
    m_mainWindow = nullptr;
    CEF_LOG_INFO(QStringLiteral("main window closed"));
    // Downloads the closed dialog let go of stop within a step of their work; no thread of
    // theirs may outlive the application object it runs Qt with.
    if (!PsUpdateDownloader::finishAll(kDownloadStopMs))
        CEF_LOG_INFO(QStringLiteral("an update download did not stop in time"));
    m_processMonitor.reset();
    m_recorder.reset();
    delete m_devicesHandler;
    m_devicesHandler = nullptr;
}

void cefApplication::loadSettings()
{
    m_settings.load();
    // A file edited by hand must not keep the program from starting (a window larger than any
    // screen could not even be drawn): what the program cannot use is replaced in memory only,
    // and the file keeps the user's text.
    SettingsMap settings = m_settings.map();
    const QRect screens = WindowOps::screensArea();
    settings_rules::repair(&settings, screens.isEmpty() ? QSize(1 << 15, 1 << 15) : screens.size(),
                           [](const QString &line) { CEF_LOG_WARNING(line); });
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        m_settings.setValue(it.key(), it.value());
}

void cefApplication::refreshDeviceMap()
{
    // The library call stays outside the lock: it may call back into the program.
    const QByteArray table = m_devicesHandler ? m_devicesHandler->enumerateDevices() : QByteArray();
    QMutexLocker lock(&m_deviceMutex);
    device_table::apply(table, &m_deviceMap, &m_deviceSightings);
}

DeviceMap cefApplication::deviceMap() const
{
    QMutexLocker lock(&m_deviceMutex);
    return m_deviceMap;
}

DeviceSightings cefApplication::deviceSightings() const
{
    QMutexLocker lock(&m_deviceMutex);
    return m_deviceSightings;
}

void cefApplication::startup()
{
    // The style sheet names the update dialog's pictures.
    UpdateResources::init();
    QFile style(QStringLiteral(":/qss/vexa"));
    if (style.open(QIODevice::ReadOnly))
        setStyleSheet(QString::fromUtf8(style.readAll()));

    // Early, so that a crash anywhere later leaves a dump; the sub-processes never get here.
    if (!platform::crashHandlerInstalled())
        platform::installCrashHandler(QCoreApplication::applicationDirPath());
    platform::setCrashReporter(QStringLiteral("CrashReporter"));

    platform::onTerminationRequest([this] { on_closeApp(); });

    connect(m_probeSocket, &QLocalSocket::connected, this, &cefApplication::socketConnected);
    connect(m_probeSocket, &QLocalSocket::disconnected, this, &cefApplication::socketDisconnected);
    connect(m_probeSocket, &QLocalSocket::errorOccurred, this, &cefApplication::socketError);
    connect(m_probeSocket, &QLocalSocket::bytesWritten, this, &cefApplication::socketWritten);
    connect(m_probeSocket, &QLocalSocket::readyRead, this, &cefApplication::socketReading);

    // The main window comes only once the probe has found no other instance (socketError).
    m_probeSocket->connectToServer(m_serverName, QIODevice::ReadWrite);
}

void cefApplication::socketConnected()
{
    m_probeConnected = true;
    m_probeSocket->write(instance_channel::showCommand());
    // A running vexa answers at once, even from inside a dialog; one that is stuck would keep
    // this start waiting without a window for ever.
    auto *bound = new QTimer(this);
    bound->setSingleShot(true);
    connect(bound, &QTimer::timeout, this, [this] {
        if (!quitRequested())
            refuseStart(m_probeSocket->serverName(),
                        QStringLiteral("it did not answer within %1 seconds").arg(kProbeAnswerMs / 1000));
    });
    bound->start(kProbeAnswerMs);
}

void cefApplication::socketDisconnected()
{
    if (m_probeConnected)
        requestQuit();
}

void cefApplication::socketError(QLocalSocket::LocalSocketError e)
{
    if (m_probeConnected) {
        requestQuit();
        return;
    }
    const QString probeError = m_probeSocket->errorString();
    m_probeSocket->close();
    // Whoever holds the running lock runs on this folder's files, whichever channel it listens
    // on (another runtime folder, when the shared temporary folder's names were taken): a start
    // that cannot take the lock must not run beside it. The installer started at exit waits on
    // the same lock, so it replaces no file of ours while we still run.
    const QString applicationDir = QCoreApplication::applicationDirPath();
    QString lockError;
    if (!RunningLock::holdForLifetime(applicationDir, &lockError)) {
        if (instance_channel::heldByAnother(RunningLock::path(applicationDir))) {
            reachRunningInstance(probeError);
            return;
        }
        CEF_LOG_INFO(QStringLiteral("no running lock, an installer would not wait for us: ") + lockError);
    }
    // A socket file nobody answers on was left by an instance that crashed; it would block the
    // name. Only a refused connection says so: anything else may be a live instance.
    if (e == QLocalSocket::ConnectionRefusedError)
        QLocalServer::removeServer(m_serverName);
    if (!m_instanceServer->listen(m_serverName)) {
        requestQuit();
        return;
    }
    if (!instance_channel::writeNote(applicationDir, m_serverName))
        CEF_LOG_INFO(QStringLiteral("the channel's name could not be noted in %1: a start that finds another name "
                                    "cannot bring this one forward")
                         .arg(instance_channel::noteFile(applicationDir)));
    finishCutShortUpdates();
    createMainWindow();
}

void cefApplication::finishCutShortUpdates()
{
    const QString applicationDir = QCoreApplication::applicationDirPath();
    QString why;
    switch (PageInstall::recoverInterrupted(applicationDir, &why)) {
    case PageInstall::Recovery::Nothing:
        break;
    case PageInstall::Recovery::RolledBack:
        CEF_LOG_INFO(QStringLiteral("a page update was cut short: the pages it replaced were put back"));
        break;
    case PageInstall::Recovery::Failed:
        CEF_LOG_WARNING(QStringLiteral("a page update was cut short and could not be undone: ") + why);
        break;
    }

    QString version;
    switch (InstallRecords::confirmClientInstall(applicationDir, &version, &why)) {
    case InstallRecords::ClientInstall::Recorded:
        // Read from the file at construction, before the installer's work was known.
        m_settings.setValue(QStringLiteral("version"), version);
        CEF_LOG_INFO(
            QStringLiteral("the client package %1 is installed: recorded as the installed version").arg(version));
        break;
    case InstallRecords::ClientInstall::Failed:
        CEF_LOG_WARNING(QStringLiteral("the client package %1 is installed, but its version could not be recorded: %2")
                            .arg(version, why));
        break;
    case InstallRecords::ClientInstall::NotInstalled:
        CEF_LOG_INFO(QStringLiteral("the client package handed to the installer is not in place: see updater.log"));
        break;
    case InstallRecords::ClientInstall::None:
    case InstallRecords::ClientInstall::NotKept:
    case InstallRecords::ClientInstall::Waiting:
        break;
    }
}

void cefApplication::reachRunningInstance(const QString &why)
{
    const QString applicationDir = QCoreApplication::applicationDirPath();
    const QString noted = instance_channel::notedName(applicationDir);
    if (!m_probedNotedName && !noted.isEmpty() && noted != m_serverName) {
        m_probedNotedName = true;
        m_replyBuffer.clear();
        // Not from inside the socket's own error signal, where it is not yet unconnected.
        QTimer::singleShot(0, this, [this, noted] {
            m_probeSocket->abort();
            m_probeSocket->connectToServer(noted, QIODevice::ReadWrite);
        });
        return;
    }
    // The other one may have taken the lock a moment ago and not yet be listening, or be ending
    // and about to let the lock go: start the whole probe again for a while.
    if (!m_probeRetries.isValid()) {
        m_probeRetries.start();
        CEF_LOG_INFO(QStringLiteral("another vexa holds the running lock of %1, but its channel was not reached (%2): "
                                    "trying again for %3 s")
                         .arg(applicationDir, why)
                         .arg(kProbeRetryMs / 1000));
    }
    if (m_probeRetries.elapsed() < kProbeRetryMs) {
        QTimer::singleShot(kProbeRetryStepMs, this, [this] {
            m_probedNotedName = false;
            m_replyBuffer.clear();
            m_probeSocket->abort();
            m_probeSocket->connectToServer(m_serverName, QIODevice::ReadWrite);
        });
        return;
    }
    refuseStart(m_probedNotedName ? noted : m_serverName, why);
}

void cefApplication::refuseStart(const QString &channel, const QString &why)
{
    const QString message =
        QStringLiteral("another vexa runs from %1, but this start cannot reach it (%2: %3), so it ends. "
                       "Bring the running vexa forward from its tray icon, or end it and start again "
                       "(while an update is being installed, wait for it).")
            .arg(QCoreApplication::applicationDirPath(), channel, why);
    CEF_LOG_WARNING(message);
    std::fprintf(stderr, "vexa: %s\n", message.toLocal8Bit().constData());
    requestQuit(1);
}

void cefApplication::socketWritten(qint64) {}

void cefApplication::showMainWindow()
{
    if (!m_mainWindow)
        return;
    m_mainWindow->setWindowState(m_mainWindow->windowState() & ~Qt::WindowMinimized);
    m_mainWindow->activateWindow();
    m_mainWindow->show();
}

void cefApplication::socketReading()
{
    if (m_probeSocket->state() != QLocalSocket::ConnectedState)
        return;
    m_replyBuffer += QString::fromUtf8(m_probeSocket->readAll());
    bool complete = false;
    const quint64 processId = instance_channel::replyProcessId(m_replyBuffer, &complete);
    if (!complete)
        return;
    if (processId != 0) {
        for (const platform::TopLevelWindow &window : platform::topLevelWindows()) {
            if (window.processId != processId || !instance_channel::isMainWindowTitle(window.title))
                continue;
            platform::foregroundWindow(window.handle);
            break;
        }
    }
    requestQuit();
}

QWidget *cefApplication::mainWidget()
{
    return m_mainWindow;
}

bool cefApplication::saveModifiedProfiles(QString *error)
{
    return m_profiles->saveModified(error);
}

void cefApplication::hideToTray()
{
    if (m_mainWindow)
        m_mainWindow->quitApp();
}

void cefApplication::quitApplication()
{
    QString error;
    if (saveModifiedProfiles(&error)) {
        requestQuit();
        return;
    }
    // The changes live only in the profile cache: quitting now would lose them.
    CEF_LOG_WARNING(QStringLiteral("not quitting: the changed profiles could not be saved: %1").arg(error));
    std::fprintf(stderr, "vexa: not quitting: the changed profiles could not be saved: %s\n", qPrintable(error));
    tellUnsavedAtQuit(error);
}

void cefApplication::tellUnsavedAtQuit(const QString &error)
{
    if (!m_unsavedAtQuit) {
        m_unsavedAtQuit = new QMessageBox(QMessageBox::Warning, QStringLiteral("vexa"),
                                          QStringLiteral("vexa could not save your profile changes, so it is still running."),
                                          QMessageBox::NoButton, m_mainWindow);
        m_unsavedAtQuit->setAttribute(Qt::WA_DeleteOnClose);
        QPushButton *retry = m_unsavedAtQuit->addButton(QStringLiteral("Try Again"), QMessageBox::AcceptRole);
        QPushButton *quit = m_unsavedAtQuit->addButton(QStringLiteral("Quit Without Saving"), QMessageBox::DestructiveRole);
        m_unsavedAtQuit->addButton(QStringLiteral("Keep vexa Open"), QMessageBox::RejectRole);
        m_unsavedAtQuit->setDefaultButton(retry);
        connect(m_unsavedAtQuit, &QMessageBox::buttonClicked, this, [this, retry, quit](QAbstractButton *button) {
            // After the box has gone, so that a second failure brings a new one.
            if (button == retry)
                QTimer::singleShot(0, this, &cefApplication::quitApplication);
            else if (button == quit)
                requestQuit();
        });
    }
    m_unsavedAtQuit->setInformativeText(
        QStringLiteral("%1\n\nYour changes are kept while vexa runs. Make the file writable (or free some disk "
                       "space) and choose Try Again, or quit and lose the changes.")
            .arg(error));
    showMainWindow();
    m_unsavedAtQuit->show();
    m_unsavedAtQuit->raise();
    m_unsavedAtQuit->activateWindow();
}

bool cefApplication::hasProcessMonitor() const
{
    return m_processMonitor && m_processMonitor->isRunning();
}

void cefApplication::restartProcessMonitor()
{
    m_processMonitor->restart();
}

void cefApplication::createMainWindow()
{
    // The router's handler is made with the first browser, which the window is about to create.
    if (CefRefPtr<ClientHandler> handler = ClientHandler::current())
        handler->SetMessageHandlerFactory([this](ClientHandler::MessageHandlerSet &handlers) {
            handlers.insert(new window_test::Handler([this] { return saveModifiedProfiles(); }));
        });
    m_mainWindow = new vexa(*this, m_commands);
    registerSettingsCommands(m_commands, m_settings, *m_mainWindow);
    m_processMonitor->restart();
    if (CefRefPtr<ClientHandler> handler = ClientHandler::current()) {
        handler->SetMainWindowHandle(m_mainWindow->winId());
        // A page that starts again (a reload, the start page after a renderer crash) would
        // otherwise give the pad the current mode's profile while a bound program runs.
        // A starting page also hears again that there is no tray (it offers Exit then).
        handler->SetMainLoadStartHandler([this] {
            m_processMonitor->reportAgain();
            if (m_mainWindow && !m_mainWindow->trayAvailable())
                m_mainWindow->reportTray();
        });
    }
    m_mainWindow->createSystemTray();
    if (m_autostart)
        m_mainWindow->putAway();
    else
        m_mainWindow->show();
    // A flash cut short leaves the pad in its loader, where no device list shows it. With its
    // image still unpacked the update dialog offers to flash it again; that start has no update
    // check, whose dialog would come up over the offer.
    DeviceRom rom(*m_devicesHandler, {});
    const bool padInLoader = FirmwareFlash::padWaitsInLoader(rom);
    if (padInLoader)
        m_events->onBrowserMsg(FirmwareFlash::kPadInLoaderMessage);
    if (!padInLoader || !offerReflash())
        runUpdateCheck(false);
    CEF_LOG_INFO(QStringLiteral("mainwindow show!"));
}

void cefApplication::replaceUpdateCheck()
{
    delete m_updateCheck;
    m_updateCheck = new UpdateCheck(*this, this);
    connect(m_updateCheck, &UpdateCheck::closeApp, this, &cefApplication::on_closeApp);
    connect(m_updateCheck, &UpdateCheck::firmwareFlashEnded, this, &cefApplication::followPadsAfterFlash);
    // Started with the session, vexa is out of sight when its update check finds something.
    connect(m_updateCheck, &UpdateCheck::updateOffered, this, [this] {
        if (m_mainWindow && (!m_mainWindow->isVisible() || m_mainWindow->isMinimized()))
            m_mainWindow->notify(QStringLiteral("vexa update"),
                                 QStringLiteral("A new version is ready to install: see the update window."));
    });
    m_updateCheck->setFirmwareRom(std::make_shared<DeviceRom>(*m_devicesHandler, [this] {
        const DeviceMap devices = deviceMap();
        return devices.isEmpty() ? QString() : devices.constBegin()->HardwareID;
    }));
}

bool cefApplication::offerReflash()
{
    replaceUpdateCheck();
    if (!m_updateCheck->offerReflash())
        return false;
    CEF_LOG_INFO(QStringLiteral("a pad waits in its firmware loader: offering to flash it again"));
    return true;
}

void cefApplication::runUpdateCheck(bool manual)
{
    if (m_updateCheck && m_updateCheck->busy()) {
        CEF_LOG_INFO(QStringLiteral("update check not started: the update dialog is open or flashing the pad"));
        if (manual)
            m_updateCheck->bringForward();
        return;
    }
    QString deviceId;
    QString fwVersion;
    const DeviceMap devices = deviceMap();
    if (!devices.isEmpty()) {
        deviceId = devices.constBegin()->DeviceID;
        fwVersion = devices.constBegin()->Version;
    }
    replaceUpdateCheck();
    // Read as a map lookup that enters the key. Without a settings file there are no settings
    // at all ("getConf" fails), and the check must not make one up.
    const QString clientVersion =
        settings().map().isEmpty() ? QString() : settings().valueInsertingEmpty(QStringLiteral("version"));
    m_updateCheck->checkNow(deviceId, fwVersion, clientVersion, manual);
}

void cefApplication::followPadsAfterFlash()
{
    // During a flash the pad leaves for its loader and comes back as itself; the library's events
    // for that may fall between the ones acted on, which would leave the page's list empty until
    // some later change. So the table is looked at until it shows the change, and the page told.
    const auto snapshot = [this] {
        QStringList pads;
        const DeviceMap devices = deviceMap();
        for (const DeviceInfo &pad : devices)
            pads << pad.DeviceID + QLatin1Char(' ') + pad.HardwareID + QLatin1Char(' ') + pad.Version;
        return pads;
    };
    const QStringList before = snapshot();
    auto *watch = new QTimer(this);
    watch->setInterval(kPadWatchIntervalMs);
    auto polls = std::make_shared<int>(0);
    connect(watch, &QTimer::timeout, this, [this, watch, polls, before, snapshot] {
        refreshDeviceMap();
        const QStringList now = snapshot();
        const bool changed = now != before;
        if (changed)
            m_events->devicesChanged(0);
        if ((changed && !now.isEmpty()) || ++*polls >= kPadWatchPolls)
            watch->deleteLater();
    });
    watch->start();
}

void cefApplication::onEventloop(bool)
{
    if (m_mainWindow)
        m_mainWindow->onshowWidget();
}

// SIGTERM and the update's Restart Now: they never wait on the page (a session that ends, or an
// installer that waits for vexa to go, cannot answer a question).
void cefApplication::on_closeApp()
{
    if (m_mainWindow)
        m_mainWindow->oncloseApp();
    else
        requestQuit();
}
