// A system-wide hot key: one key combination that works while other programs have the focus;
// every press emits activated() on the UI thread. Part of what the executable exports, so its
// symbols keep default visibility.
#pragma once

#include <QKeySequence>
#include <QObject>

class QxtGlobalShortcutPrivate;

Q_DECL_EXPORT const char *qxtVersion();

class Q_DECL_EXPORT QxtGlobalShortcut : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool enabled READ isEnabled WRITE setEnabled)
    Q_PROPERTY(QKeySequence shortcut READ shortcut WRITE setShortcut)
public:
    explicit QxtGlobalShortcut(QObject *parent = nullptr);
    explicit QxtGlobalShortcut(const QKeySequence &shortcut, QObject *parent = nullptr);
    ~QxtGlobalShortcut() override;

    QKeySequence shortcut() const;
    // Releases the current combination, then reserves the first key of the sequence. False when
    // the system refused it; the sequence is remembered either way.
    bool setShortcut(const QKeySequence &shortcut);

    bool isEnabled() const;

public slots:
    void setEnabled(bool enabled = true);
    void setDisabled(bool disabled = true);

signals:
    void activated();

private:
    friend class QxtGlobalShortcutPrivate;
    QxtGlobalShortcutPrivate *d;
};
