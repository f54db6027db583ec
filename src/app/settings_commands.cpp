#include "settings_commands.h"

#include "app_settings.h"
#include "autostart.h"

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

} // namespace

void cmdGetConf(vexa &window, const CommandArgs &, const vexa::Callback &callback)
{
    AppSettings *store = AppSettings::current();
    const SettingsMap settings = store ? store->map() : SettingsMap();
    if (settings.isEmpty()) {
        vexa::replyFailure(callback, 0, QStringLiteral("cant find conf.xml"));
        return;
    }
    QJsonObject object;
    for (auto it = settings.cbegin(); it != settings.cend(); ++it) {
        QString value = it.value();
        if (isShortcutKey(it.key()))
            value += QLatin1Char(',') + shortcutState(window.shortcutRegistered(it.key()));
        object.insert(it.key(), value);
    }
    vexa::replySuccess(callback, QString::fromUtf8(QJsonDocument(QJsonArray{object}).toJson(QJsonDocument::Compact)));
}

void cmdSetConf(vexa &window, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"confKey", "confValue"}))
        return;
    const QString key = args.toText(QStringLiteral("confKey"));
    const QString value = args.toText(QStringLiteral("confValue"));

    // The effects come first, whether or not the file knows the key.
    bool registered = false;
    if (key == QLatin1String("autoStart"))
        platform::setAutostart(value == QLatin1String("true"));
    else if (isShortcutKey(key))
        registered = window.setShortcut(key, value);

    AppSettings *store = AppSettings::current();
    if (!store || !store->setValue(key, value)) {
        vexa::replyFailure(callback, 0, QStringLiteral("can't find conf name"));
        return;
    }
    if (store->storeAttribute(key, value) == AppSettings::StoreResult::Unparsable)
        return;

    vexa::replySuccess(callback, isShortcutKey(key) ? shortcutState(registered) : QStringLiteral("modify conf sucess"));
}
