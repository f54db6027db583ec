#include "qxtglobalshortcut.h"
#include "qxtglobalshortcut_p.h"

#include "global_hotkeys.h"
#include "hotkey_codes.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QtDebug>

const char *qxtVersion()
{
    return "0.7.0";
}

namespace {

// One filter for the whole process rather than one per shortcut: whichever shortcut came first may
// well be destroyed before the others, and the dispatcher must never keep a deleted filter.
class HotKeyFilter : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray &eventType, void *message, long *) override
    {
        quint32 nativeKey = 0, nativeFlags = 0;
        if (platform::hotKeyPress(eventType, message, &nativeKey, &nativeFlags))
            QxtGlobalShortcutPrivate::activate(nativeKey, nativeFlags);
        return false; // others may want the event too
    }
};

HotKeyFilter g_filter;
QAbstractEventDispatcher *g_filterDispatcher = nullptr;

QString sequenceText(quint32 combination)
{
    return QKeySequence(int(combination)).toString(QKeySequence::NativeText);
}

platform::HotKey nativeHotKey(quint32 key, quint32 mods)
{
    platform::HotKey hotKey;
    hotKey.virtualKey = hotkey_codes::nativeKey(key);
    hotKey.flags = hotkey_codes::nativeFlags(mods);
    hotKey.id = hotkey_codes::hotKeyId(hotKey.virtualKey, hotKey.flags);
    return hotKey;
}

} // namespace

QHash<QxtGlobalShortcutPrivate::TableKey, QxtGlobalShortcut *> QxtGlobalShortcutPrivate::shortcutTable;
int QxtGlobalShortcutPrivate::filterUsers = 0;

QxtGlobalShortcutPrivate::QxtGlobalShortcutPrivate(QxtGlobalShortcut *owner) : owner(owner)
{
    if (filterUsers++ == 0) {
        g_filterDispatcher = QAbstractEventDispatcher::instance();
        if (g_filterDispatcher)
            g_filterDispatcher->installNativeEventFilter(&g_filter);
    }
}

QxtGlobalShortcutPrivate::~QxtGlobalShortcutPrivate()
{
    if (--filterUsers == 0 && g_filterDispatcher) {
        g_filterDispatcher->removeNativeEventFilter(&g_filter);
        g_filterDispatcher = nullptr;
    }
}

bool QxtGlobalShortcutPrivate::isFilterInstalled()
{
    return g_filterDispatcher != nullptr;
}

void QxtGlobalShortcutPrivate::activate(quint32 nativeKey, quint32 nativeFlags)
{
    QxtGlobalShortcut *shortcut = shortcutTable.value(TableKey(nativeKey, nativeFlags));
    if (shortcut && shortcut->isEnabled())
        emit shortcut->activated();
}

bool QxtGlobalShortcutPrivate::setShortcut(quint32 combination)
{
    key = combination & ~hotkey_codes::kModifierBits;
    mods = combination & hotkey_codes::kModifierBits;
    const platform::HotKey hotKey = nativeHotKey(key, mods);
    if (!platform::registerHotKey(hotKey)) {
        qWarning("QxtGlobalShortcut failed to register: %s", qPrintable(sequenceText(key + mods)));
        return false;
    }
    shortcutTable.insert(TableKey(hotKey.virtualKey, hotKey.flags), owner);
    return true;
}

bool QxtGlobalShortcutPrivate::unsetShortcut()
{
    const platform::HotKey hotKey = nativeHotKey(key, mods);
    const TableKey tableKey(hotKey.virtualKey, hotKey.flags);
    bool done = false;
    const auto entry = shortcutTable.constFind(tableKey);
    if (entry != shortcutTable.constEnd()) {
        // A combination that another object holds stays that object's.
        if (entry.value() == owner && platform::unregisterHotKey(hotKey)) {
            shortcutTable.remove(tableKey);
            done = true;
        } else {
            qWarning("QxtGlobalShortcut failed to unregister: %s", qPrintable(sequenceText(key + mods)));
        }
    }
    key = 0;
    mods = 0;
    return done;
}

QxtGlobalShortcut::QxtGlobalShortcut(QObject *parent) : QObject(parent), d(new QxtGlobalShortcutPrivate(this)) {}

QxtGlobalShortcut::QxtGlobalShortcut(const QKeySequence &shortcut, QObject *parent) : QxtGlobalShortcut(parent)
{
    setShortcut(shortcut);
}

QxtGlobalShortcut::~QxtGlobalShortcut()
{
    if (d->key != 0)
        d->unsetShortcut();
    delete d;
}

QKeySequence QxtGlobalShortcut::shortcut() const
{
    return QKeySequence(int(d->key | d->mods));
}

bool QxtGlobalShortcut::setShortcut(const QKeySequence &shortcut)
{
    if (d->key != 0)
        d->unsetShortcut();
    // Cleared by the user: nothing to hold. An attempt with no key would only log a failure.
    if (shortcut.isEmpty())
        return false;
    return d->setShortcut(quint32(shortcut[0]));
}

bool QxtGlobalShortcut::isEnabled() const
{
    return d->enabled;
}

void QxtGlobalShortcut::setEnabled(bool enabled)
{
    d->enabled = enabled;
}

void QxtGlobalShortcut::setDisabled(bool disabled)
{
    d->enabled = !disabled;
}
