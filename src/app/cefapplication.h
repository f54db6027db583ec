// The application object of the interactive process: settings, the main window and the
// start-up sequence.
#pragma once

#include "app_settings.h"
#include "command_context.h"
#include "command_registry.h"
#include "device_table.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QLocalSocket>
#include <QPair>
#include <QMap>
#include <QMutex>
#include <QString>

#include <memory>

class vexa;
namespace instance_channel {
class InstanceServer;
}
class devices_handler;
class MacroRecorder;
class PageEvents;
struct Pads;
struct Profiles;
class ProcessMonitorThread;
class ProfileStore;
class UpdateCheck;

// Ends the event loop, once per process, with exitCode; later calls do nothing.
void requestQuit(int exitCode = 0);
bool quitRequested();
// The exit code the first quit request asked for.
int requestedExitCode();

// Owns what lives as long as the program: the settings, the device handler and its table, the
// profile cache, the process monitor, the macro recorder, the page's command registry and the
// main window; each owner stops and joins its threads as it goes. Commands reach all of it
// through the CommandContext this object implements.
class cefApplication : public QApplication, public CommandContext {
    Q_OBJECT
public:
    // events: where native events for the page go (the browser's client handler); may be null
    // (tests, and a second instance that never shows a page), then events are dropped.
    cefApplication(int &argc, char **argv, PageEvents *events = nullptr);
    ~cefApplication() override;

    // How long a start that finds another vexa's running lock, but not its channel, keeps trying
    // to reach it (or to take the lock once it has ended), and how often.
    static constexpr int kProbeRetryMs = 5000;
    static constexpr int kProbeRetryStepMs = 250;

    void startup();
    bool isAutostart() const { return m_autostart; }
    vexa *mainWindow() const { return m_mainWindow; }

    // Reads Resources/profiles/conf.xml below the application folder afresh.
    void loadSettings();

    // Asks the vendor service for newer packages for the first pad and the installed client
    // (manual: the user asked, so "nothing newer" is shown too). Replaces the previous check,
    // unless its update dialog is still open: then nothing new starts.
    void runUpdateCheck(bool manual);
    UpdateCheck *updateCheck() const { return m_updateCheck; }

    const CommandRegistry &commands() const { return m_commands; }

    // CommandContext
    AppSettings &settings() override { return m_settings; }
    PageEvents &events() override { return *m_events; }
    QWidget *mainWidget() override;
    bool saveModifiedProfiles(QString *error = nullptr) override;
    void hideToTray() override;
    void quitApplication() override;
    bool hasProcessMonitor() const override;
    void restartProcessMonitor() override;

    // The connected pads. Refreshed on a device library thread, read anywhere: copies, taken
    // under a lock.
    devices_handler *devicesHandler() const { return m_devicesHandler; }
    void refreshDeviceMap();
    DeviceMap deviceMap() const;
    DeviceSightings deviceSightings() const;

public slots:
    void onEventloop(bool forceWait = false);
    void on_closeApp();
    // Watches the pad list after a firmware flash until the pad is back, and tells the page.
    void followPadsAfterFlash();

    // Single instance, new instance's side: the probe of a running one.
    void socketConnected();
    void socketDisconnected();
    void socketError(QLocalSocket::LocalSocketError e);
    void socketWritten(qint64 bytes);
    void socketReading();
    // Running instance's side: a new instance asked for the window (instance_channel::InstanceServer).
    void showMainWindow();

private:
    // A new update check object in place of the previous one (which must not be busy).
    void replaceUpdateCheck();
    // The update dialog offers to flash a pad found in its loader again; false when the
    // firmware image is gone.
    bool offerReflash();

    void createMainWindow();
    // A quit found profile changes it could not write: vexa stays, and a window says so, with
    // Try Again, Quit Without Saving and Keep Open.
    void tellUnsavedAtQuit(const QString &error);
    // The running lock is held by another vexa whose channel this start's probe did not reach:
    // tries the channel it noted; failing that, probes again from the start every
    // kProbeRetryStepMs (the other one may be about to listen, or to end), and after
    // kProbeRetryMs says why and ends with exit code 1.
    void reachRunningInstance(const QString &why);
    // Says on stderr and in the log that another vexa runs on channel but cannot be reached
    // (why), and ends with exit code 1.
    void refuseStart(const QString &channel, const QString &why);
    // Before the page loads: rolls back a page installation that a kill or a crash cut short,
    // and records the version of a client package an installer has put in place.
    void finishCutShortUpdates();

    mutable QMutex m_deviceMutex;
    DeviceMap m_deviceMap;
    AppSettings m_settings;
    DeviceSightings m_deviceSightings;
    PageEvents *m_events;
    CommandRegistry m_commands;
    std::unique_ptr<ProfileStore> m_profiles;
    std::unique_ptr<Profiles> m_profileCommands;
    std::unique_ptr<Pads> m_pads;
    std::unique_ptr<ProcessMonitorThread> m_processMonitor;
    std::unique_ptr<MacroRecorder> m_recorder;
    // The latest update check; its dialog is a window, so it goes before the application does.
    UpdateCheck *m_updateCheck = nullptr;
    vexa *m_mainWindow = nullptr;
    QPointer<QMessageBox> m_unsavedAtQuit;
    devices_handler *m_devicesHandler = nullptr;
    QString m_serverName;
    QLocalSocket *m_probeSocket = nullptr;
    QString m_replyBuffer;
    instance_channel::InstanceServer *m_instanceServer = nullptr;
    bool m_probeConnected = false;
    bool m_probedNotedName = false;
    QElapsedTimer m_probeRetries; // since the first probe that found the lock held and no channel
    bool m_autostart = false;
};
