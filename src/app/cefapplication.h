// The application object of the interactive process: settings, the main window and the
// start-up sequence.
#pragma once

#include <QApplication>
#include <QMap>
#include <QString>

class vexa;

// The application folder with a trailing "/", kept twice for the update code.
extern QString g_applicationDir;
extern QString g_updateApplicationDir;

// Ends the event loop, once per process; later calls do nothing.
void requestQuit();
bool quitRequested();

using SettingsMap = QMap<QString, QString>;

class cefApplication : public QApplication {
    Q_OBJECT
public:
    cefApplication(int &argc, char **argv);
    ~cefApplication() override;

    // The process-wide instance, registered by startup(); null before.
    static cefApplication *instance();

    void startup();
    bool isAutostart() const { return m_autostart; }
    vexa *mainWindow() const { return m_mainWindow; }

    // Settings of Resources/profiles/conf.xml below the application folder.
    void loadSettings();
    QString settingValue(const QString &key) const;
    bool setSettingValue(const QString &key, const QString &value);
    SettingsMap settings() const { return m_settings; }
    QString confText() const { return m_confText; }
    void setConfText(const QString &text) { m_confText = text; }
    static QString confFilePath();

public slots:
    void onEventloop(bool forceWait = false);
    void on_closeApp();

private:
    void createMainWindow();

    SettingsMap m_settings;
    QString m_confText;
    vexa *m_mainWindow = nullptr;
    bool m_autostart = false;
};
