// The state behind one QxtGlobalShortcut and the process-wide table that routes presses.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QPair>

class QxtGlobalShortcut;

class QxtGlobalShortcutPrivate {
public:
    explicit QxtGlobalShortcutPrivate(QxtGlobalShortcut *owner);
    ~QxtGlobalShortcutPrivate();

    bool setShortcut(quint32 combination);
    bool unsetShortcut();

    QxtGlobalShortcut *owner;
    bool enabled = true;
    quint32 key = 0; // Qt key without modifier bits; 0: no shortcut
    quint32 mods = 0;

    // (native key, native flags) → the object that registered it.
    using TableKey = QPair<quint32, quint32>;
    static QHash<TableKey, QxtGlobalShortcut *> shortcutTable;
    // Living private parts; the native event filter is installed while there is one.
    static int filterUsers;
    static bool isFilterInstalled();
    static void activate(quint32 nativeKey, quint32 nativeFlags);
};
