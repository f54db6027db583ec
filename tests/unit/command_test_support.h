// What the command tests share: a callback that records replies, events that record what the
// page would hear, and a context that stands in for the application around the commands.
#pragma once

#include "app_settings.h"
#include "command_context.h"
#include "command_registry.h"
#include "page_events.h"

#include <QStringList>
class QWidget;

class RecordingCallback : public CefQueryCallback {
public:
    void Success(const CefString &response) override { replies << QStringLiteral("success:") + QString(response); }
    void Failure(int code, const CefString &message) override
    {
        replies << QStringLiteral("failure:%1:").arg(code) + QString(message);
    }
    QStringList replies;
};

// Each event as "name:value,value".
class RecordingEvents : public PageEvents {
public:
    void devicesChanged(int value) override { add("devicesChanged", {QString::number(value)}); }
    void onDeviceData(const QString &data) override { add("onDeviceData", {data}); }
    void currentPropChanged(int a, int b) override { add("currentPropChanged", {QString::number(a), QString::number(b)}); }
    void macroItem(const QString &a, const QString &b, const QString &c, const QString &d) override
    {
        add("macroItem", {a, b, c, d});
    }
    void onProcessChanged(const QString &mode, bool running) override
    {
        add("onProcessChanged", {mode, running ? "true" : "false"});
    }
    void navStateChanged(bool back, bool forward) override
    {
        add("navStateChanged", {back ? "true" : "false", forward ? "true" : "false"});
    }
    void onBrowserMsg(const QString &message) override { add("onBrowserMsg", {message}); }

    QStringList events;

private:
    void add(const char *name, const QStringList &values)
    {
        events << QLatin1String(name) + QLatin1Char(':') + values.join(QLatin1Char(','));
    }
};

class FakeContext : public CommandContext {
public:
    explicit FakeContext(const QString &applicationDir = QString()) : m_settings(applicationDir) {}

    AppSettings &settings() override { return m_settings; }
    PageEvents &events() override { return recorded; }
    QWidget *mainWidget() override { return widget; }
    bool saveModifiedProfiles(QString *error = nullptr) override
    {
        ++saves;
        if (!saveFails)
            return true;
        if (error)
            *error = QStringLiteral("cannot write profile.xml: read-only");
        return false;
    }
    void hideToTray() override { ++hides; }
    void quitApplication() override { ++quits; }
    bool hasProcessMonitor() const override { return monitorRunning; }
    void restartProcessMonitor() override { ++restarts; }

    RecordingEvents recorded;
    QWidget *widget = nullptr;
    bool monitorRunning = true;
    bool saveFails = false;
    int saves = 0, hides = 0, quits = 0, restarts = 0;

private:
    AppSettings m_settings;
};

// Sends one command text through the registry as the dispatcher would; its replies (none, one,
// or, wrongly, more).
inline QStringList runCommand(const CommandRegistry &registry, const QString &json)
{
    CefRefPtr<RecordingCallback> callback(new RecordingCallback);
    CommandArgs args;
    if (!CommandArgs::parse(json, &args))
        return {QStringLiteral("bad test JSON")};
    registry.dispatch(args.toText(QStringLiteral("funcname")), args, callback);
    return callback->replies;
}
