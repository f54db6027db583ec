// The main window: a frameless window around the page, and the dispatcher that runs the page's
// commands.
#pragma once

#include "command_args.h"
#include "message_event.h"
#include "pop_widget.h"

#include <QMap>
#include <QPointer>
#include <QRect>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QWidget>

#include <memory>

class VexaWebView;
class QxtGlobalShortcut;
class SystemTray;
class ProfileStore;
class ProcessMoniter;
class QThread;

class vexa : public QWidget {
    Q_OBJECT
public:
    using Callback = QueryCallbackPtr;
    // A command: reads its arguments, does its work, and ends in at most one reply. Commands of
    // each subsystem live in that subsystem's folder.
    using Command = void (*)(vexa &window, const CommandArgs &args, const Callback &callback);
    struct CommandEntry {
        const char *funcname;
        Command run; // empty: the command arrives with a later part of the program; no reply
    };
    // Every command the page can send, in the order they are matched.
    static const QVector<CommandEntry> &commandTable();

    explicit vexa(QWidget *parent = nullptr);
    ~vexa() override;

    VexaWebView *view() const { return m_view; }

    // The profile files the page edits, read once and written by a save.
    ProfileStore &profiles();
    // Writes every modified profile file; false when one could not be written (it and the
    // rest stay modified).
    bool saveModifiedProfiles();
    // Replaces the process monitor by one reading the current mode bindings.
    void restartProcessMonitor();
    bool hasProcessMonitor() const { return m_monitor != nullptr; }
    QString startAddress() const { return m_startAddress; }

    void dispatchCommand(const QString &funcname, const CommandArgs &args, const Callback &callback);
    static void replySuccess(const Callback &callback, const QString &text);
    static void replyFailure(const Callback &callback, int code, const QString &text);

    // Global shortcuts, named by their setting key ("showConf", "testTool"): registers the key
    // sequence (native text form) and remembers whether that worked.
    bool setShortcut(const QString &confKey, const QString &sequence);
    bool shortcutRegistered(const QString &confKey) const;
    QxtGlobalShortcut *shortcutObject(const QString &confKey) const;

    // The notification-area icon: created once the window exists, shown at once.
    void createSystemTray();
    SystemTray *systemTray() const { return m_tray; }

    // Texts the window handles before any JSON parsing.
    static bool isMaximizeText(const QString &text);
    static bool isRestoreText(const QString &text);

    // Covers the work area of the primary screen, remembering the geometry from before;
    // restoring returns to the geometry remembered last.
    void maximizeWindow();
    void restoreWindow();
    QRect savedWindowGeometry() const { return savedGeometry; }

    // Pop-up views of the page, one per address. A new one takes the page queries over; so
    // does each on activation, and closing hands them back to the main window's view.
    void openView(const QString &url, const QSize &size);
    void closeView();
    void popUpActivated(PopWidget *popUp);
    PopWidget *popUp(const QString &url) const { return popUps.value(url); }
    PopWidget *currentPopUpView() const { return currentPopUp; }

public slots:
    void quitApp();
    void finishLoading();
    void reload_currentPage();
    void onJsMessage(const QString &name, const QueryCallbackPtr &callbackPtr);
    void onSystemtrayActive(QSystemTrayIcon::ActivationReason reason);
    void onCurrentPropChanged(int propIndex, int proMode);
    void onshowWidget();
    void oncloseApp();
    void showMouseConf();
    void showDebug();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Commands available so far.
    void cmdLoadUrl(const CommandArgs &args, const Callback &callback);
    void cmdGoBack(const CommandArgs &args, const Callback &callback);
    void cmdGoForward(const CommandArgs &args, const Callback &callback);
    void cmdSendMsgToMainBrowser(const CommandArgs &args, const Callback &callback);

    VexaWebView *m_view = nullptr;
    QString m_startAddress;
    QRect savedGeometry;
    std::unique_ptr<ProfileStore> m_profiles;
    void stopProcessMonitor();
    QThread *m_monitorThread = nullptr;
    ProcessMoniter *m_monitor = nullptr;
    // Threads of replaced monitors; each deletes itself once finished.
    QVector<QPointer<QThread>> m_retiredMonitorThreads;
    QxtGlobalShortcut *m_showConfShortcut = nullptr;
    QxtGlobalShortcut *m_testToolShortcut = nullptr;
    bool m_showConfRegistered = false;
    bool m_testToolRegistered = false;
    SystemTray *m_tray = nullptr;
    // A pop-up that went some other way than closeView leaves a null entry behind.
    QMap<QString, QPointer<PopWidget>> popUps;
    QPointer<PopWidget> currentPopUp;
};
