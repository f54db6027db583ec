// The browser side of the message router: queries reach a handler, each query ends once (by a
// reply or a cancellation), and a handler hears about the queries it loses. Test browsers have
// no page, so replies leave nowhere; what is observed is which queries are still pending and
// what the handlers were told.
#include "message_router.h"

#include <QtTest>

namespace {

struct Query {
    int browserId;
    int64 queryId;
    QString request;
    bool persistent;
    CefRefPtr<CefMessageRouterBrowserSide::Callback> callback;
};

class RecordingHandler : public CefMessageRouterBrowserSide::Handler {
public:
    explicit RecordingHandler(bool takes = true) : m_takes(takes) {}

    bool OnQuery(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame>, int64 query_id, const CefString &request,
                 bool persistent, CefRefPtr<CefMessageRouterBrowserSide::Callback> callback) override
    {
        queries.append({browser->GetIdentifier(), query_id, request, persistent, callback});
        if (m_takes && replyAtOnce)
            callback->Success(QStringLiteral("at once"));
        return m_takes;
    }
    void OnQueryCanceled(CefRefPtr<CefBrowser> browser, CefRefPtr<CefFrame>, int64 query_id) override
    {
        canceled.append(qMakePair(browser->GetIdentifier(), query_id));
    }

    bool replyAtOnce = false;
    QVector<Query> queries;
    QVector<QPair<int, int64>> canceled;

private:
    bool m_takes;
};

CefRefPtr<CefProcessMessage> queryMessage(const QString &context, int64 id, const QString &request, bool persistent = false)
{
    CefRefPtr<CefProcessMessage> m = CefProcessMessage::Create(QStringLiteral("cefQueryMsg"));
    CefRefPtr<CefListValue> args = m->GetArgumentList();
    args->SetString(0, context);
    args->SetDouble(1, double(id));
    args->SetString(2, request);
    args->SetBool(3, persistent);
    return m;
}

CefRefPtr<CefProcessMessage> cancelMessage(const QString &context, int64 id)
{
    CefRefPtr<CefProcessMessage> m = CefProcessMessage::Create(QStringLiteral("cefQueryCancelMsg"));
    m->GetArgumentList()->SetString(0, context);
    m->GetArgumentList()->SetDouble(1, double(id));
    return m;
}

enum class Ending { BeforeBrowse, BeforeClose, RenderProcessGone, CancelMessage, RemoveHandler, CancelPending };

} // namespace

Q_DECLARE_METATYPE(Ending)

class TestMessageRouter : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void queryReachesHandler_data();
    void queryReachesHandler();
    void replyEndsQueryOnce_data();
    void replyEndsQueryOnce();
    void replyInsideOnQueryLeavesNothingPending();
    void handlersAreAskedInOrderUntilOneTakes();
    void untakenQueryIsDropped();
    void queryWhoseCallbackIsReleasedIsForgotten();
    void cancellation_data();
    void cancellation();

private:
    bool receive(const CefRefPtr<CefBrowser> &browser, const CefRefPtr<CefProcessMessage> &m)
    {
        return m_router->OnProcessMessageReceived(browser, PID_RENDERER, m);
    }

    CefRefPtr<CefMessageRouterBrowserSide> m_router;
    CefRefPtr<CefBrowser> m_browser1;
    CefRefPtr<CefBrowser> m_browser2;
};

// A command that ends without a reply releases its callback; nothing can answer that query any
// more, so it must not stay pending until the page navigates.
void TestMessageRouter::queryWhoseCallbackIsReleasedIsForgotten()
{
    RecordingHandler handler;
    m_router->AddHandler(&handler, false);
    for (int id = 1; id <= 3; ++id)
        QVERIFY(receive(m_browser1, queryMessage(QStringLiteral("ctx"), id, QStringLiteral("no reply"))));
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 3);

    handler.queries.remove(1); // the second query's last reference goes
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 2);
    handler.queries.clear();
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 0);
    QVERIFY(handler.canceled.isEmpty()); // nobody is told: nobody held the query
}

void TestMessageRouter::init()
{
    m_router = CefMessageRouterBrowserSide::Create(CefMessageRouterConfig());
    m_browser1 = CefBrowser::CreateForTesting(1);
    m_browser2 = CefBrowser::CreateForTesting(2);
}

void TestMessageRouter::cleanup()
{
    // Replies of a windowless browser are posted to the event loop and dropped there.
    QCoreApplication::processEvents();
    m_router = nullptr;
}

void TestMessageRouter::queryReachesHandler_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<qint64>("queryId");
    QTest::addColumn<bool>("persistent");

    QTest::newRow("command") << R"({"funcname":"getDevicesList"})" << qint64(1) << false;
    QTest::newRow("persistent") << "moveWindow 1 2 3 4" << qint64(7) << true;
    QTest::newRow("empty request") << "" << qint64(2) << false;
    QTest::newRow("non-ASCII request") << QStringLiteral(u"{\"msg\":\"\u00fc\u20ac\"}") << qint64(3) << false;
    // Ids travel as doubles; one beyond 32 bits must survive the trip.
    QTest::newRow("large id") << "x" << (qint64(1) << 40) + 1 << false;
}

void TestMessageRouter::queryReachesHandler()
{
    QFETCH(QString, request);
    QFETCH(qint64, queryId);
    QFETCH(bool, persistent);

    RecordingHandler handler;
    m_router->AddHandler(&handler, false);
    QVERIFY(receive(m_browser2, queryMessage(QStringLiteral("ctx"), queryId, request, persistent)));

    QCOMPARE(handler.queries.size(), 1);
    const Query &q = handler.queries.at(0);
    QCOMPARE(q.browserId, 2);
    QCOMPARE(q.queryId, int64(queryId));
    QCOMPARE(q.request, request);
    QCOMPARE(q.persistent, persistent);
    QVERIFY(q.callback);
    QCOMPARE(m_router->GetPendingCount(m_browser2, &handler), 1);
    QCOMPARE(m_router->GetPendingCount(m_browser1, nullptr), 0);

    // Messages that are not the router's are left to others.
    QVERIFY(!receive(m_browser2, CefProcessMessage::Create(QStringLiteral("devicesChanged"))));
    QCOMPARE(handler.queries.size(), 1);
    m_router->RemoveHandler(&handler);
}

void TestMessageRouter::replyEndsQueryOnce_data()
{
    QTest::addColumn<bool>("firstIsSuccess");
    QTest::newRow("success") << true;
    QTest::newRow("failure") << false;
}

void TestMessageRouter::replyEndsQueryOnce()
{
    QFETCH(bool, firstIsSuccess);

    RecordingHandler handler;
    m_router->AddHandler(&handler, false);
    receive(m_browser1, queryMessage(QStringLiteral("ctx"), 1, QStringLiteral("a")));
    receive(m_browser1, queryMessage(QStringLiteral("ctx"), 2, QStringLiteral("b")));
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 2);

    const CefRefPtr<CefMessageRouterBrowserSide::Callback> first = handler.queries.at(0).callback;
    if (firstIsSuccess)
        first->Success(QStringLiteral("done"));
    else
        first->Failure(0, QStringLiteral("failed"));
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 1);

    // Further replies on the ended query must not end the other one.
    first->Success(QStringLiteral("again"));
    first->Failure(0, QStringLiteral("again"));
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 1);

    // A page withdrawing an answered query is no cancellation.
    receive(m_browser1, cancelMessage(QStringLiteral("ctx"), 1));
    QVERIFY(handler.canceled.isEmpty());
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 1);

    handler.queries.at(1).callback->Success(QStringLiteral("done"));
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 0);
    m_router->RemoveHandler(&handler);
    QVERIFY(handler.canceled.isEmpty());
}

void TestMessageRouter::replyInsideOnQueryLeavesNothingPending()
{
    // The window commands answer while the router is still handing the query over.
    RecordingHandler handler;
    handler.replyAtOnce = true;
    m_router->AddHandler(&handler, false);
    QVERIFY(receive(m_browser1, queryMessage(QStringLiteral("ctx"), 1, QStringLiteral("minimise"))));
    QCOMPARE(handler.queries.size(), 1);
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 0);
    m_router->OnBeforeBrowse(m_browser1, m_browser1->GetMainFrame());
    QVERIFY(handler.canceled.isEmpty());
    m_router->RemoveHandler(&handler);
}

void TestMessageRouter::handlersAreAskedInOrderUntilOneTakes()
{
    RecordingHandler taker(true);
    RecordingHandler decliner(false);
    RecordingHandler never(true);
    m_router->AddHandler(&taker, false);
    m_router->AddHandler(&never, false);
    m_router->AddHandler(&decliner, true); // goes before the others
    QVERIFY(!m_router->AddHandler(&taker, false));

    receive(m_browser1, queryMessage(QStringLiteral("ctx"), 1, QStringLiteral("q")));
    QCOMPARE(decliner.queries.size(), 1);
    QCOMPARE(taker.queries.size(), 1);
    QCOMPARE(never.queries.size(), 0);

    // The query belongs to the handler that took it, and only that one hears of its end.
    QCOMPARE(m_router->GetPendingCount(nullptr, &taker), 1);
    QCOMPARE(m_router->GetPendingCount(nullptr, &decliner), 0);
    m_router->OnBeforeBrowse(m_browser1, m_browser1->GetMainFrame());
    QCOMPARE(taker.canceled.size(), 1);
    QVERIFY(decliner.canceled.isEmpty());
    QVERIFY(never.canceled.isEmpty());

    for (RecordingHandler *h : {&taker, &decliner, &never})
        m_router->RemoveHandler(h);
}

void TestMessageRouter::untakenQueryIsDropped()
{
    RecordingHandler decliner(false);
    RecordingHandler other(true);
    m_router->AddHandler(&decliner, false);
    receive(m_browser1, queryMessage(QStringLiteral("ctx"), 1, QStringLiteral("q")));
    QCOMPARE(decliner.queries.size(), 1);
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 0);

    // A late reply through the callback the decliner saw must not touch another query.
    m_router->AddHandler(&other, false);
    receive(m_browser1, queryMessage(QStringLiteral("ctx"), 2, QStringLiteral("q2")));
    decliner.queries.at(0).callback->Success(QStringLiteral("late"));
    QCOMPARE(m_router->GetPendingCount(nullptr, &other), 1);

    m_router->RemoveHandler(&decliner);
    m_router->RemoveHandler(&other);
}

void TestMessageRouter::cancellation_data()
{
    QTest::addColumn<Ending>("ending");
    QTest::addColumn<int>("browserId");
    QTest::addColumn<QString>("context");
    QTest::addColumn<qint64>("queryId");
    QTest::addColumn<int>("expectCanceled");

    // Browser 1 has queries 1 and 2 of context "a", browser 2 query 1 of context "a".
    QTest::newRow("navigation") << Ending::BeforeBrowse << 1 << "" << qint64(0) << 2;
    QTest::newRow("navigation of the other browser") << Ending::BeforeBrowse << 2 << "" << qint64(0) << 1;
    QTest::newRow("browser closes") << Ending::BeforeClose << 1 << "" << qint64(0) << 2;
    QTest::newRow("render process gone") << Ending::RenderProcessGone << 1 << "" << qint64(0) << 2;
    QTest::newRow("page withdraws one") << Ending::CancelMessage << 1 << "a" << qint64(2) << 1;
    QTest::newRow("withdraw an unknown id") << Ending::CancelMessage << 1 << "a" << qint64(9) << 0;
    QTest::newRow("withdraw from another context") << Ending::CancelMessage << 1 << "b" << qint64(1) << 0;
    QTest::newRow("handler removed") << Ending::RemoveHandler << 0 << "" << qint64(0) << 3;
    QTest::newRow("all of one browser") << Ending::CancelPending << 2 << "" << qint64(0) << 1;
    QTest::newRow("all browsers") << Ending::CancelPending << 0 << "" << qint64(0) << 3;
}

void TestMessageRouter::cancellation()
{
    QFETCH(Ending, ending);
    QFETCH(int, browserId);
    QFETCH(QString, context);
    QFETCH(qint64, queryId);
    QFETCH(int, expectCanceled);

    RecordingHandler handler;
    m_router->AddHandler(&handler, false);
    receive(m_browser1, queryMessage(QStringLiteral("a"), 1, QStringLiteral("q1")));
    receive(m_browser1, queryMessage(QStringLiteral("a"), 2, QStringLiteral("q2")));
    receive(m_browser2, queryMessage(QStringLiteral("a"), 1, QStringLiteral("q3")));
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 3);

    const CefRefPtr<CefBrowser> browser = browserId == 1 ? m_browser1 : browserId == 2 ? m_browser2 : nullptr;
    switch (ending) {
    case Ending::BeforeBrowse: m_router->OnBeforeBrowse(browser, browser->GetMainFrame()); break;
    case Ending::BeforeClose: m_router->OnBeforeClose(browser); break;
    case Ending::RenderProcessGone: m_router->OnRenderProcessTerminated(browser); break;
    case Ending::CancelMessage: QVERIFY(receive(browser, cancelMessage(context, queryId))); break;
    case Ending::RemoveHandler: QVERIFY(m_router->RemoveHandler(&handler)); break;
    case Ending::CancelPending: m_router->CancelPending(browser, nullptr); break;
    }

    QCOMPARE(handler.canceled.size(), expectCanceled);
    for (const auto &c : handler.canceled) {
        if (browser)
            QCOMPARE(c.first, browserId);
        if (ending == Ending::CancelMessage)
            QCOMPARE(c.second, int64(queryId));
    }
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 3 - expectCanceled);

    // A reply to a cancelled query does nothing: no second cancellation, no other query ended.
    for (const Query &q : handler.queries)
        if (handler.canceled.contains(qMakePair(q.browserId, q.queryId)))
            q.callback->Success(QStringLiteral("late"));
    QCOMPARE(handler.canceled.size(), expectCanceled);
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 3 - expectCanceled);
    m_router->RemoveHandler(&handler);
}

QTEST_GUILESS_MAIN(TestMessageRouter)
#include "tst_message_router.moc"
