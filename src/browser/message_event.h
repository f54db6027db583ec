// A page query on its way from the router to the view, on the GUI thread.
#pragma once

#include "message_router.h"

#include <QEvent>
#include <QMetaType>

Q_DECLARE_METATYPE(QueryCallbackPtr)

class MessageEvent : public QEvent {
public:
    // Registered once per process, before main runs.
    static const QEvent::Type kType;

    MessageEvent(QString name, QueryCallbackPtr callback)
        : QEvent(kType), m_name(std::move(name)), m_callback(std::move(callback)) {}

    QString name() const { return m_name; }
    QueryCallbackPtr callback() const { return m_callback; }

private:
    QString m_name;
    QueryCallbackPtr m_callback; // held until the event is destroyed
};
