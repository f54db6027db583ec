// The main window: a frameless window around the page, and the dispatcher that runs the page's
// commands.
#pragma once

#include "command_registry.h"
#include "message_event.h"
#include "pop_widget.h"

#include <QMap>
#include <QPointer>
#include <QRect>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>


class CommandContext;
class VexaWebView;
class DesktopNotifications;
class QxtGlobalShortcut;
class SystemTray;

class vexa : public QWidget {
    Q_OBJECT
public:
    using Callback = QueryCallbackPtr;

    // Runs the page's commands from commands, where the subsystems registered theirs; registers
    // its own (navigation, views, dialogs, the application) there for as long as it lives.
    // context and commands must outlive the window.
    vexa(CommandContext &context, CommandRegistry &commands, QWidget *parent = nullptr);
    ~vexa() override;

    VexaWebView *view() const { return m_view; }
    CommandContext &context() const { return m_context; }

    // Writes every modified profile file; false when one could not be written (it and the
    // rest stay modified).
    bool saveModifiedProfiles();
    QString startAddress() const { return m_startAddress; }

    void dispatchCommand(const QString &funcname, const CommandArgs &args, const Callback &callback);
    static void replySuccess(const Callback &callback, const QString &text);
    static void replyFailure(const Callback &callback, int code, const QString &text);

    // Global shortcuts, named by their setting key ("showConf", "testTool"): registers the key
    // sequence (native text form) and remembers whether that worked.
    bool setShortcut(const QString &confKey, const QString &sequence);
    bool shortcutRegistered(const QString &confKey) const;
    QxtGlobalShortcut *shortcutObject(const QString &confKey) const;

    // The notification-area icon: created once the window exists, shown at once. From then on
    // the page's notifications go to the desktop's notification service (notify).
    void createSystemTray();
    SystemTray *systemTray() const { return m_tray; }
    // Whether the tray icon is there to bring the window back: there is a tray (on GNOME there
    // is none without an extension, and a tray can end or come while vexa runs).
    bool trayAvailable() const;
    // Out of the way without losing it: hidden in the tray where there is one, else minimised,
    // so the window stays in the task bar to be brought back or closed. For the close into the
    // tray and "-autostart". When the tray goes away while the window is hidden, the window
    // comes back minimised.
    void putAway();
    // What the page hears (as "onBrowserMsg") about the tray: kNoTrayMessage at start (and at
    // each page start) while there is none, and on each change kNoTrayMessage or
    // kTrayPresentMessage. A page that knows nothing of it still works: closing then minimises.
    static const QString kNoTrayMessage;
    static const QString kTrayPresentMessage;
    void reportTray();
    static constexpr int kTrayWatchMs = 2000;
    // A notification for the user: the desktop's own (in vexa's name, with its icon), or the
    // tray icon's message where no notification service answers.
    void notify(const QString &title, const QString &message);
    DesktopNotifications *desktopNotifications() const { return m_notifications; }
    // What the page hears (as "onBrowserMsg") when the tray's Exit offers it to ask about unsaved
    // work first. A page that takes the offer up says so at once with "closeApp" and "exit":
    // "asking"; it answers with "exit": true (end, whatever "closeFunc" says) or "exit": "stay".
    // A page that says nothing within kExitTakeUpMs, and a second Exit while the offer is open,
    // end the program as the tray's Exit always did: the changed profiles are written, then vexa
    // quits. So no page, ours hung or one that never heard of the offer, keeps vexa running.
    static const QString kTrayExitMessage;
    static constexpr int kExitTakeUpMs = 3000;
    void setExitTakeUpMs(int ms) { m_exitTakeUp->setInterval(ms); }
    // The page's "exit" value of "closeApp"; false for a value that is none of the three.
    bool exitAnswered(const QString &answer);
    bool exitOfferOpen() const { return m_exitOffer != ExitOffer::None; }

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
    // Writes the changed profiles and quits, whatever the page is doing: for SIGTERM and the
    // update's Restart Now, and the tray's Exit once the page had its chance.
    void oncloseApp();
    // The tray's Exit: offers the page to ask about unsaved work first (see kTrayExitMessage).
    void onTrayExit();
    void showMouseConf();
    void showDebug();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void registerCommands();
    void trayWatch();

    CommandContext &m_context;
    CommandRegistry &m_commands;
    VexaWebView *m_view = nullptr;
    QString m_startAddress;
    QRect savedGeometry;
    QxtGlobalShortcut *m_showConfShortcut = nullptr;
    QxtGlobalShortcut *m_testToolShortcut = nullptr;
    bool m_showConfRegistered = false;
    bool m_testToolRegistered = false;
    SystemTray *m_tray = nullptr;
    DesktopNotifications *m_notifications = nullptr;
    QTimer *m_trayWatch = nullptr;
    bool m_trayWasAvailable = false;
    // Whether the page has sent a command: a page that never did (it failed to load) cannot
    // answer the tray's Exit.
    bool m_pageSpoke = false;
    enum class ExitOffer { None, Sent, Asking };
    ExitOffer m_exitOffer = ExitOffer::None;
    QTimer *m_exitTakeUp = nullptr;
    // A pop-up that went some other way than closeView leaves a null entry behind.
    QMap<QString, QPointer<PopWidget>> popUps;
    QPointer<PopWidget> currentPopUp;
};
