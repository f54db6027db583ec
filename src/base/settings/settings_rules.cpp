#include "settings_rules.h"

#include <QKeySequence>
#include <QStringList>

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

bool isShortcutKey(const QString &key)
{
    return key == QLatin1String("showConf") || key == QLatin1String("testTool");
}

} // namespace

bool isBareKey(const QString &sequence)
{
    // The shortcut takes the first key of the sequence, as the registration does.
    const QKeySequence keys(sequence, QKeySequence::NativeText);
    if (keys.isEmpty())
        return false;
    const int combination = keys[0];
    const int key = combination & ~int(Qt::KeyboardModifierMask);
    if (key == 0 || key == Qt::Key_unknown)
        return false;
    if (combination & int(Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    return key < Qt::Key_F1 || key > Qt::Key_F35;
}

QString refusal(const QString &key, const QString &value, const QSize &screens)
{
    if (value.size() > kMaxText)
        return QStringLiteral("%1 not changed: the text is longer than %2 characters").arg(key).arg(kMaxText);
    if (key == QLatin1String("version"))
        return QStringLiteral("version not changed: only an installation records the installed version");
    if (isShortcutKey(key) && isBareKey(value))
        return QStringLiteral("%1 not changed: %2 has no Ctrl, Alt or Meta, so it would take the key from every "
                              "other program")
            .arg(key, quoted(value));
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
    return QString();
}

bool ruled(const QString &key)
{
    return isShortcutKey(key) || key == QLatin1String("clientSize");
}

QString fallback(const QString &key)
{
    if (key == QLatin1String("clientSize"))
        return QStringLiteral("800,600");
    return QString();
}

void repair(SettingsMap *settings, const QSize &screens, const std::function<void(const QString &)> &log)
{
    for (auto it = settings->begin(); it != settings->end(); ++it) {
        if (!ruled(it.key()))
            continue;
        const QString reason = refusal(it.key(), it.value(), screens);
        if (reason.isEmpty())
            continue;
        const QString replacement = fallback(it.key());
        if (log)
            log(QStringLiteral("settings file: %1 %2; %3 is used until it is set again")
                    .arg(it.key(), reason.section(QStringLiteral(" not changed: "), 1),
                         replacement.isEmpty() ? QStringLiteral("no shortcut") : replacement));
        *it = replacement;
    }
}

} // namespace settings_rules
