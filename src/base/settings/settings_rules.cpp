#include "settings_rules.h"

#include <QKeySequence>
#include <QRegularExpression>

#include <algorithm>

namespace settings_rules {

namespace {

// Shown in a reply: a value of a megabyte must not become a reply of a megabyte.
QString quoted(const QString &value)
{
    return QLatin1Char('"') + (value.size() > 40 ? value.left(40) + QStringLiteral("…") : value) + QLatin1Char('"');
}

// "W,H" in decimal; false for anything else (blanks around the numbers are what hand edits add).
bool parseSize(const QString &value, QSize *size)
{
    const QStringList parts = value.split(QLatin1Char(','));
    if (parts.size() != 2)
        return false;
    bool okWidth = false, okHeight = false;
    const int width = parts.at(0).trimmed().toInt(&okWidth);
    const int height = parts.at(1).trimmed().toInt(&okHeight);
    *size = QSize(width, height);
    return okWidth && okHeight;
}

// One combination of modifiers and a key the system can name: a global shortcut is one chord.
bool isKeyCombination(const QString &value)
{
    const QKeySequence sequence(value, QKeySequence::NativeText);
    if (sequence.count() != 1)
        return false;
    const int key = sequence[0] & ~int(Qt::KeyboardModifierMask);
    return key != 0 && key != Qt::Key_unknown && !sequence.toString(QKeySequence::NativeText).isEmpty();
}

} // namespace

const QStringList &languages()
{
    static const QStringList codes = {QStringLiteral("en"),    QStringLiteral("zh"), QStringLiteral("zh-TW"),
                                      QStringLiteral("zh-HK"), QStringLiteral("de-DE"), QStringLiteral("ja"),
                                      QStringLiteral("ru"),    QStringLiteral("ko")};
    return codes;
}

QString refusal(const QString &key, const QString &value, const QSize &screens)
{
    if (key == QLatin1String("autoStart")) {
        if (value == QLatin1String("true") || value == QLatin1String("false"))
            return QString();
        return QStringLiteral("autoStart not changed: %1 is neither \"true\" nor \"false\"").arg(quoted(value));
    }
    if (key == QLatin1String("closeFunc")) {
        if (value == QLatin1String("hide") || value == QLatin1String("closeapp"))
            return QString();
        return QStringLiteral("closeFunc not changed: %1 is neither \"hide\" nor \"closeapp\"").arg(quoted(value));
    }
    if (key == QLatin1String("language")) {
        // The page takes a code by its language alone too ("de" for "de-DE").
        static const QRegularExpression tag(QStringLiteral("^[A-Za-z]{2,3}(-[A-Za-z0-9]{2,8})?$"));
        const QString base = value.section(QLatin1Char('-'), 0, 0);
        const bool known = tag.match(value).hasMatch() &&
                           std::any_of(languages().cbegin(), languages().cend(), [&](const QString &code) {
                               return code.section(QLatin1Char('-'), 0, 0) == base;
                           });
        if (known)
            return QString();
        return QStringLiteral("language not changed: %1 is not one of the languages %2")
            .arg(quoted(value), languages().join(QStringLiteral(", ")));
    }
    if (key == QLatin1String("showConf") || key == QLatin1String("testTool")) {
        // Empty: no shortcut at all.
        if (value.isEmpty() || (value.size() <= 64 && isKeyCombination(value)))
            return QString();
        return QStringLiteral("%1 not changed: %2 is not one key combination such as \"Ctrl+Alt+K\"").arg(key, quoted(value));
    }
    if (key == QLatin1String("clientSize")) {
        QSize size;
        if (parseSize(value, &size) && size.width() >= kMinWidth && size.height() >= kMinHeight &&
            size.width() <= screens.width() && size.height() <= screens.height())
            return QString();
        return QStringLiteral("clientSize not changed: %1 is not a window size from %2,%3 up to the screens' %4,%5")
            .arg(quoted(value))
            .arg(kMinWidth)
            .arg(kMinHeight)
            .arg(screens.width())
            .arg(screens.height());
    }
    if (value.size() > kMaxFreeText)
        return QStringLiteral("%1 not changed: the text is longer than %2 characters").arg(key).arg(kMaxFreeText);
    return QString();
}

bool ruled(const QString &key)
{
    return key == QLatin1String("showConf") || key == QLatin1String("testTool") || !fallback(key).isEmpty();
}

QString fallback(const QString &key)
{
    if (key == QLatin1String("autoStart"))
        return QStringLiteral("false");
    if (key == QLatin1String("closeFunc"))
        return QStringLiteral("hide");
    if (key == QLatin1String("language"))
        return QStringLiteral("en");
#ifdef Q_OS_WIN
    if (key == QLatin1String("showConf"))
        return QStringLiteral("Ctrl+Alt+K");
    if (key == QLatin1String("testTool"))
        return QStringLiteral("Ctrl+Alt+T");
#endif
    // Elsewhere no shortcut: the desktops already use these combinations (see data/resources-linux).
    if (key == QLatin1String("clientSize"))
        return QStringLiteral("800,600");
    return QString();
}

void repair(SettingsMap *settings, const QSize &screens, const std::function<void(const QString &)> &log)
{
    for (auto it = settings->begin(); it != settings->end(); ++it) {
        // Free text is the user's own: kept whatever its length, nothing acts on it.
        if (!ruled(it.key()))
            continue;
        const QString replacement = fallback(it.key());
        const QString reason = refusal(it.key(), it.value(), screens);
        if (reason.isEmpty())
            continue;
        if (log)
            log(QStringLiteral("settings file: %1 %2; %3 is used until it is set again")
                    .arg(it.key(), reason.section(QStringLiteral(" not changed: "), 1),
                         replacement.isEmpty() ? QStringLiteral("no shortcut") : replacement));
        *it = replacement;
    }
}

} // namespace settings_rules
