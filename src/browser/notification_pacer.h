// The pace of the desktop notifications shown for the page. Each one shown is a call to the
// desktop's notification service (or a message of the tray icon), made on the GUI thread, which
// also carries every command: a page that sends
// thousands would hold up the bridge for seconds and fill the desktop. At most kBurst are shown
// in any kWindowMs; of those that come faster, only the newest is kept and shown when the window
// ends (it says how things are now), and the others are dropped with one line in the log.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace vexa_runtime {

class NotificationPacer : public QObject {
public:
    static constexpr int kBurst = 3;
    static constexpr int kWindowMs = 5000;

    explicit NotificationPacer(QObject *parent = nullptr);

    // Runs show now, or later in place of the ones held back so far, or never. GUI thread.
    void offer(std::function<void()> show);
    // Forgets what is held back (before the web engine goes).
    void clear();

private:
    void windowEnded();

    QTimer m_window;
    int m_shown = 0;
    int m_dropped = 0;
    std::function<void()> m_held;
};

} // namespace vexa_runtime
