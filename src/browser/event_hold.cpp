#include "event_hold.h"

#include "runtime_log.h"

namespace vexa_runtime {

void EventHold::documentStarting(bool keepWaiting)
{
    if (!keepWaiting)
        m_held.clear();
    m_holding = true;
}

void EventHold::documentReady()
{
    m_holding = false;
    const QVector<CefRefPtr<CefProcessMessage>> held = std::move(m_held);
    m_held.clear();
    // Through post: a delivery that starts another document holds the rest for that one.
    for (const CefRefPtr<CefProcessMessage> &message : held)
        post(message);
}

void EventHold::abandon()
{
    m_held.clear();
    m_holding = false;
}

void EventHold::post(CefRefPtr<CefProcessMessage> message)
{
    if (m_holding) {
        if (m_held.size() < kMaxHeld) {
            m_held.append(message);
            return;
        }
        CEF_LOG_WARNING(QStringLiteral("the page's channel did not come up while %1 events waited for it; they go on "
                                       "to the registrations there are")
                            .arg(kMaxHeld));
        documentReady();
    }
    m_deliver(message);
}

} // namespace vexa_runtime
