#include "settings_commands.h"

#include "app_settings.h"
#include "autostart.h"
#include "settings_rules.h"
#include "vexa.h"
#include "window_ops.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

bool isShortcutKey(const QString &key)
{
    return key == QLatin1String("showConf") || key == QLatin1String("testTool");
}

// The page reads the registration state from the character after the last ",".
QString shortcutState(bool registered)
{
    return QString(QChar(registered ? 1 : 0));
}

// Every setting as one JSON object inside an array; shortcut settings carry whether their key
// sequence is registered.
void getConf(AppSettings &store, vexa &window, const CommandArgs &, const QueryCallbackPtr &callback)
{
    const SettingsMap settings = store.map();
    if (settings.isEmpty()) {
        replyFailure(callback, 0, QStringLiteral("cant find conf.xml"));
        return;
    }
    QJsonObject object;
    for (auto it = settings.cbegin(); it != settings.cend(); ++it) {
        QString value = it.value();
        if (isShortcutKey(it.key()))
            value += QLatin1Char(',') + shortcutState(window.shortcutRegistered(it.key()));
        object.insert(it.key(), value);
    }
    replySuccess(callback, QString::fromUtf8(QJsonDocument(QJsonArray{object}).toJson(QJsonDocument::Compact)));
}

QSize screensSize()
{
    const QRect screens = WindowOps::screensArea();
    return screens.isEmpty() ? QSize(1 << 15, 1 << 15) : screens.size();
}

// Puts the setting's immediate effect in line with value: the autostart entry, or the global
// shortcut (whose registration state the page reads). False (error says why) when the autostart
// entry could not be changed.
bool applyEffect(vexa &window, const QString &key, const QString &value, bool *registered, QString *error)
{
    if (key == QLatin1String("autoStart"))
        return platform::setAutostart(value == QLatin1String("true"), error);
    if (isShortcutKey(key))
        *registered = window.setShortcut(key, value);
    return true;
}

// Changes one setting, applies it where it takes effect at once, and rewrites the settings file.
// A change that cannot be written is undone everywhere, so that "getConf", the file and the
// desktop keep telling the same.
void setConf(AppSettings &store, vexa &window, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"confKey", "confValue"}))
        return;
    // Without a settings file nothing can be kept, so nothing is looked at or done.
    if (store.map().isEmpty()) {
        replyFailure(callback, 0, QStringLiteral("can't find conf name"));
        return;
    }
    const QString key = args.toText(QStringLiteral("confKey"));
    const QString value = args.toText(QStringLiteral("confValue"));
    // Before any effect: a refused value changes nothing, not even the autostart entry.
    const QString refusal = settings_rules::refusal(key, value, screensSize());
    if (!refusal.isEmpty()) {
        replyFailure(callback, 0, refusal);
        return;
    }

    // The effects come first, whether or not the file knows the key.
    const QString before = store.value(key);
    bool registered = false;
    QString error;
    if (!applyEffect(window, key, value, &registered, &error)) {
        replyFailure(callback, 0, error);
        return;
    }

    if (!store.setValue(key, value)) {
        replyFailure(callback, 0, QStringLiteral("can't find conf name"));
        return;
    }
    switch (store.storeAttribute(key, value, &error)) {
    case AppSettings::StoreResult::Unparsable:
        return;
    case AppSettings::StoreResult::NotWritten: {
        store.setValue(key, before);
        bool unused = false;
        applyEffect(window, key, before, &unused, nullptr);
        replyFailure(callback, 0, error);
        return;
    }
    case AppSettings::StoreResult::Written:
    case AppSettings::StoreResult::NoSuchAttribute:
        break;
    }

    replySuccess(callback, isShortcutKey(key) ? shortcutState(registered) : QStringLiteral("modify conf sucess"));
}

} // namespace

void registerSettingsCommands(CommandRegistry &registry, AppSettings &settings, vexa &window)
{
    registry.add(
        QStringLiteral("getConf"),
        [&settings, &window](const CommandArgs &args, const QueryCallbackPtr &callback) {
            getConf(settings, window, args, callback);
        },
        &window);
    registry.add(
        QStringLiteral("setConf"),
        [&settings, &window](const CommandArgs &args, const QueryCallbackPtr &callback) {
            setConf(settings, window, args, callback);
        },
        &window);
}
