// What commands may ask of the application around them. Subsystems are handed this interface
// instead of reaching for the main window or a process-wide object; the application object
// implements it, tests implement it with a recording fake.
#pragma once

class AppSettings;
class PageEvents;
class QString;
class QWidget;

class CommandContext {
public:
    virtual ~CommandContext() = default;

    // The program's settings (Resources/profiles/conf.xml).
    virtual AppSettings &settings() = 0;
    // Events to the main browser's page; callable from any thread.
    virtual PageEvents &events() = 0;
    // The main window, as parent and centre of dialogs; null while there is none.
    virtual QWidget *mainWidget() = 0;

    // Writes every profile file the page changed; false when one could not be written, and
    // error (if given) names it and says why.
    virtual bool saveModifiedProfiles(QString *error = nullptr) = 0;
    // Hides the main window into the tray; the program goes on running.
    virtual void hideToTray() = 0;
    // Writes the changed profiles and ends the program (once, whoever asks). When they cannot be
    // written it keeps running and says so, with a way to try again or to quit without them.
    virtual void quitApplication() = 0;
    // Whether programs bound to modes are being watched; restart rereads the bindings.
    virtual bool hasProcessMonitor() const = 0;
    virtual void restartProcessMonitor() = 0;
};
