// A page registers its event callbacks in its first scripts, but they reach native code only
// with the document's hello, once its web channel is up: a round trip through the GUI thread that
// a busy program delays. An event raised meanwhile would meet the previous document's
// registrations or none, and be lost, the load's own "navStateChanged" first of all. So from the
// start of a load until the new document is ready a browser's events wait here, and then go on
// in order. Waiting ends without a ready document when the load leaves the old document in place
// (it failed, was refused, stopped or turned into a download) or shows one without the page
// script, and when too many events wait: a document whose channel never comes up must not make
// them pile up.
#pragma once

#include "cef_values.h"

#include <functional>

namespace vexa_runtime {

class EventHold {
public:
    using Deliver = std::function<void(CefRefPtr<CefProcessMessage>)>;
    static constexpr int kMaxHeld = 5000; // five seconds of a pad's 1000 Hz data

    // A browser's first document is on its way from the start: the hold begins closed.
    explicit EventHold(Deliver deliver) : m_deliver(std::move(deliver)) {}

    bool isHolding() const { return m_holding; }
    int heldCount() const { return m_held.size(); }

    // A load starts. What still waits belonged to a document that never came up and is dropped,
    // unless keepWaiting: what was raised before a browser's first load is for its first document.
    void documentStarting(bool keepWaiting);
    // The document is ready, or none will come: what waited goes on, in order.
    void documentReady();
    // The document is gone with its browser or renderer: what waited is dropped.
    void abandon();
    // An event for the page: kept while a document starts, else delivered now.
    void post(CefRefPtr<CefProcessMessage> message);

private:
    Deliver m_deliver;
    bool m_holding = true;
    QVector<CefRefPtr<CefProcessMessage>> m_held;
};

} // namespace vexa_runtime
