// The hold a browser's events wait in while a document starts: what is kept, in which order it
// goes on, and what is dropped.
#include "event_hold.h"

#include <QtTest>

using vexa_runtime::EventHold;

namespace {

CefRefPtr<CefProcessMessage> named(const QString &name)
{
    return CefProcessMessage::Create(name);
}

} // namespace

class TestEventHold : public QObject {
    Q_OBJECT

private:
    QStringList m_delivered;
    EventHold m_hold{[this](CefRefPtr<CefProcessMessage> message) { m_delivered << message->GetName(); }};

private slots:
    void init()
    {
        m_hold.abandon();
        m_hold.documentStarting(false); // as a new browser: holding, nothing waiting
        m_delivered.clear();
    }

    // Events raised before a browser's first load wait for its first document with those of the
    // load; then go on in order, and later ones pass straight through.
    void firstDocumentGetsEverythingInOrder()
    {
        EventHold fresh([this](CefRefPtr<CefProcessMessage> message) { m_delivered << message->GetName(); });
        QVERIFY(fresh.isHolding());
        fresh.post(named("greeting"));
        fresh.documentStarting(true);
        fresh.post(named("navStateChanged"));
        QVERIFY(m_delivered.isEmpty());
        fresh.documentReady();
        QCOMPARE(m_delivered, QStringList({"greeting", "navStateChanged"}));
        QVERIFY(!fresh.isHolding());
        fresh.post(named("padData"));
        QCOMPARE(m_delivered.last(), QStringLiteral("padData"));
    }

    // What waited for a document that never came up is not handed to the next one; a browser
    // or renderer that goes away takes what waited with it and holds no more.
    void staleEventsAreDropped()
    {
        m_hold.post(named("forOldDocument"));
        m_hold.documentStarting(false);
        m_hold.post(named("forNewDocument"));
        m_hold.documentReady();
        QCOMPARE(m_delivered, QStringList({"forNewDocument"}));

        m_hold.documentStarting(false);
        m_hold.post(named("lost"));
        m_hold.abandon();
        QCOMPARE(m_hold.heldCount(), 0);
        QVERIFY(!m_hold.isHolding());
        m_hold.post(named("afterwards"));
        QCOMPARE(m_delivered, QStringList({"forNewDocument", "afterwards"}));
    }

    // A delivery that starts another document (the event made the page navigate) holds the rest
    // for that document instead of handing them to the one that is leaving.
    void deliveryThatStartsADocumentHoldsTheRest()
    {
        EventHold *hold = nullptr;
        EventHold navigating([&](CefRefPtr<CefProcessMessage> message) {
            m_delivered << message->GetName();
            if (message->GetName() == QLatin1String("navigate"))
                hold->documentStarting(false);
        });
        hold = &navigating;
        navigating.post(named("navigate"));
        navigating.post(named("next"));
        navigating.documentReady();
        QCOMPARE(m_delivered, QStringList({"navigate"}));
        QVERIFY(navigating.isHolding());
        navigating.documentReady();
        QCOMPARE(m_delivered, QStringList({"navigate", "next"}));
    }

    // A document whose channel never comes up does not make events pile up: past the limit
    // everything goes on, in order, and holding ends.
    void tooManyWaitingGoOn()
    {
        for (int i = 0; i < EventHold::kMaxHeld; ++i)
            m_hold.post(named(QString::number(i)));
        QVERIFY(m_delivered.isEmpty());
        m_hold.post(named("overflow"));
        QCOMPARE(m_delivered.size(), EventHold::kMaxHeld + 1);
        QCOMPARE(m_delivered.first(), QStringLiteral("0"));
        QCOMPARE(m_delivered.last(), QStringLiteral("overflow"));
        QVERIFY(!m_hold.isHolding());
    }
};

QTEST_GUILESS_MAIN(TestEventHold)
#include "tst_event_hold.moc"
