// A settings file edited by anyone: read as a start reads it, repaired, and every value the
// repair keeps must pass the rules "setConf" applies; then the first line as a key and the rest
// as a value offered to those rules, which refuse only what would harm the program or the
// desktop.
#include "fuzz_support.h"
#include "settings_rules.h"

#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::startApplication();
    const QByteArray bytes = fuzz::bytes(data, size);
    const QSize screens(1920, 1080);

    const QString folder = fuzz::privateDir();
    QDir().mkpath(folder + QStringLiteral("/Resources/profiles"));
    QFile file(folder + QStringLiteral("/Resources/profiles/conf.xml"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(bytes);
        file.close();
    }
    AppSettings settings(folder);
    settings.load();
    SettingsMap map = settings.map();
    settings_rules::repair(&map, screens, {});
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        if (settings_rules::ruled(it.key()))
            fuzz::require(settings_rules::refusal(it.key(), it.value(), screens).isEmpty(),
                          "a repaired value passes the rules");

    const int newline = bytes.indexOf('\n');
    const QString key = QString::fromUtf8(bytes.left(newline < 0 ? 0 : newline));
    const QString value = QString::fromUtf8(newline < 0 ? bytes : bytes.mid(newline + 1));
    const QString refusal = settings_rules::refusal(key, value, screens);
    fuzz::require(refusal.isEmpty() || refusal.startsWith(key + QStringLiteral(" not changed: ")), "a refusal names its key");
    fuzz::require(refusal.size() < 400 + key.size(), "a refusal stays short");
    fuzz::require(refusal.isEmpty() || settings_rules::ruled(key) || key == QLatin1String("version") ||
                      value.size() > settings_rules::kMaxText,
                  "any other value is the caller's to choose");
    return 0;
}
