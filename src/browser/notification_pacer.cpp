#include "notification_pacer.h"

#include "runtime_log.h"

namespace vexa_runtime {

NotificationPacer::NotificationPacer(QObject *parent) : QObject(parent)
{
    m_window.setSingleShot(true);
    m_window.setInterval(kWindowMs);
    connect(&m_window, &QTimer::timeout, this, [this] { windowEnded(); });
}

void NotificationPacer::offer(std::function<void()> show)
{
    if (m_shown < kBurst) {
        if (m_shown++ == 0)
            m_window.start();
        show();
        return;
    }
    if (m_held)
        ++m_dropped;
    m_held = std::move(show);
}

void NotificationPacer::clear()
{
    m_window.stop();
    m_held = nullptr;
    m_shown = 0;
    m_dropped = 0;
}

void NotificationPacer::windowEnded()
{
    if (m_dropped > 0)
        CEF_LOG_INFO(QStringLiteral("%1 notifications of the page within %2 s were not shown (at most %3 are, and the "
                                    "newest of the others)")
                         .arg(m_dropped)
                         .arg(kWindowMs / 1000)
                         .arg(kBurst));
    m_shown = 0;
    m_dropped = 0;
    if (std::function<void()> held = std::move(m_held)) {
        m_held = nullptr;
        offer(std::move(held));
    }
}

} // namespace vexa_runtime
