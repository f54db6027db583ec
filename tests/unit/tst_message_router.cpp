// The browser side of the message router: queries reach a handler, each query ends once (by a
// reply or a cancellation), a reply reaches the document that asked and no other, and a handler
// hears about the queries it loses. Documents are contexts of windowless test browsers whose
// transport records the replies that would reach the page.
#include "message_router.h"

#include <QtTest>

#include <thread>

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

struct Reply {
    QString token;
    int64 queryId;
    bool success;
    int code;
    QString text;
    QThread *thread;
};

class RecordingTransport : public CefV8Transport {
public:
    void callFunction(const QString &, int, const QVariantList &) override {}
    void deliverReply(const QString &contextToken, int64 queryId, bool success, int code, const QString &text) override
    {
        replies.append({contextToken, queryId, success, code, text, QThread::currentThread()});
    }
    void forgetQuery(const QString &contextToken, int64 queryId) override
    {
        forgotten.append(contextToken + QLatin1Char('/') + QString::number(queryId));
    }
    QVector<Reply> replies;
    QStringList forgotten;
};

enum class Ending { BeforeBrowse, BeforeClose, RenderProcessGone, PageWithdraws, RemoveHandler, CancelPending };

} // namespace

Q_DECLARE_METATYPE(Ending)

class TestMessageRouter : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void queryReachesHandler_data();
    void queryReachesHandler();
    void replyReachesTheAskingDocumentOnce_data();
    void replyReachesTheAskingDocumentOnce();
    void replyNeverReachesALaterDocument();
    void replyFromAnotherThreadReachesThePageOnTheUiThread();
    void replyInsideOnQueryLeavesNothingPending();
    void handlersAreAskedInOrderUntilOneTakes();
    void untakenQueryIsDropped();
    void queryWhoseCallbackIsReleasedIsForgotten();
    void cancellation_data();
    void cancellation();

private:
    CefRefPtr<CefV8Context> document(const CefRefPtr<CefBrowser> &browser, const QString &token)
    {
        return new CefV8Context(browser, token, &m_transport);
    }
    void ask(const CefRefPtr<CefV8Context> &context, int64 id, const QString &request, bool persistent = false)
    {
        m_router->ReceiveQuery(context->GetBrowser(), context, id, request, persistent);
    }

    RecordingTransport m_transport;
    CefRefPtr<CefMessageRouterBrowserSide> m_router;
    CefRefPtr<CefBrowser> m_browser1;
    CefRefPtr<CefBrowser> m_browser2;
};

void TestMessageRouter::init()
{
    m_transport = RecordingTransport();
    m_router = CefMessageRouterBrowserSide::Create(CefMessageRouterConfig());
    m_browser1 = CefBrowser::CreateForTesting(1);
    m_browser2 = CefBrowser::CreateForTesting(2);
}

void TestMessageRouter::cleanup()
{
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
    // Page ids are JavaScript numbers; one beyond 32 bits must survive.
    QTest::newRow("large id") << "x" << (qint64(1) << 40) + 1 << false;
}

void TestMessageRouter::queryReachesHandler()
{
    QFETCH(QString, request);
    QFETCH(qint64, queryId);
    QFETCH(bool, persistent);

    RecordingHandler handler;
    m_router->AddHandler(&handler, false);
    CefRefPtr<CefV8Context> page = document(m_browser2, QStringLiteral("page"));
    ask(page, queryId, request, persistent);

    QCOMPARE(handler.queries.size(), 1);
    const Query &q = handler.queries.at(0);
    QCOMPARE(q.browserId, 2);
    QCOMPARE(q.queryId, int64(queryId));
    QCOMPARE(q.request, request);
    QCOMPARE(q.persistent, persistent);
    QVERIFY(q.callback);
    QCOMPARE(m_router->GetPendingCount(m_browser2, &handler), 1);
    QCOMPARE(m_router->GetPendingCount(m_browser1, nullptr), 0);

    // A page reusing a live id: the first query stays, the second reaches nobody.
    ask(page, queryId, QStringLiteral("second"));
    QCOMPARE(handler.queries.size(), 1);
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 1);

    // Queries never come as process messages; a client passing every message on keeps the rest.
    QVERIFY(!m_router->OnProcessMessageReceived(m_browser2, PID_RENDERER, CefProcessMessage::Create(QStringLiteral("cefQueryMsg"))));
    m_router->RemoveHandler(&handler);
}

void TestMessageRouter::replyReachesTheAskingDocumentOnce_data()
{
    QTest::addColumn<bool>("success");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("queryId");

    QTest::newRow("success") << true << 0 << "goback" << qint64(1);
    QTest::newRow("failure") << false << 0 << "cant find conf.xml" << qint64(1);
    QTest::newRow("failure keeps its code") << false << 7 << "" << qint64(1);
    QTest::newRow("non-ASCII text") << true << 0 << QStringLiteral(u"Gr\u00fc\u00dfe \u2713 \u8bbe\u7f6e") << qint64(2);
    QTest::newRow("large id") << true << 0 << "ok" << (qint64(1) << 40) + 1;
}

void TestMessageRouter::replyReachesTheAskingDocumentOnce()
{
    QFETCH(bool, success);
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(qint64, queryId);

    RecordingHandler handler;
    m_router->AddHandler(&handler, false);
    CefRefPtr<CefV8Context> asking = document(m_browser1, QStringLiteral("asking"));
    CefRefPtr<CefV8Context> other = document(m_browser2, QStringLiteral("other"));
    ask(asking, queryId, QStringLiteral("a"));
    ask(other, queryId, QStringLiteral("b")); // the same id in another browser's document
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 2);

    const CefRefPtr<CefMessageRouterBrowserSide::Callback> first = handler.queries.at(0).callback;
    if (success)
        first->Success(text);
    else
        first->Failure(code, text);
    QCOMPARE(m_transport.replies.size(), 1);
    const Reply &r = m_transport.replies.at(0);
    QCOMPARE(r.token, QStringLiteral("asking"));
    QCOMPARE(r.queryId, int64(queryId));
    QCOMPARE(r.success, success);
    QCOMPARE(r.code, success ? 0 : code);
    QCOMPARE(r.text, text);
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 1);

    // Further replies on the ended query go nowhere and must not end the other one.
    first->Success(QStringLiteral("again"));
    first->Failure(0, QStringLiteral("again"));
    QCOMPARE(m_transport.replies.size(), 1);
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 1);

    // A page withdrawing an answered query is no cancellation.
    m_router->ReceiveCancel(m_browser1, asking, queryId);
    QVERIFY(handler.canceled.isEmpty());
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 1);

    handler.queries.at(1).callback->Success(QStringLiteral("done"));
    QCOMPARE(m_transport.replies.size(), 2);
    QCOMPARE(m_transport.replies.at(1).token, QStringLiteral("other"));
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 0);
    m_router->RemoveHandler(&handler);
    QVERIFY(handler.canceled.isEmpty());
}

// Query ids restart with every document, so the next document of a browser asks under the ids
// its predecessor used. A late answer to the old document must not answer the new one's query.
void TestMessageRouter::replyNeverReachesALaterDocument()
{
    RecordingHandler handler;
    m_router->AddHandler(&handler, false);
    CefRefPtr<CefV8Context> before = document(m_browser1, QStringLiteral("before"));
    ask(before, 1, QStringLiteral("asked before the reload"));
    before->invalidate(); // the reload releases the document
    CefRefPtr<CefV8Context> after = document(m_browser1, QStringLiteral("after"));
    ask(after, 1, QStringLiteral("asked after the reload"));
    QCOMPARE(handler.queries.size(), 2); // not taken for a reused id: another document asked

    handler.queries.at(0).callback->Success(QStringLiteral("late"));
    QVERIFY(m_transport.replies.isEmpty());
    handler.queries.at(1).callback->Success(QStringLiteral("current"));
    QCOMPARE(m_transport.replies.size(), 1);
    QCOMPARE(m_transport.replies.at(0).token, QStringLiteral("after"));
    QCOMPARE(m_transport.replies.at(0).text, QStringLiteral("current"));
    m_router->RemoveHandler(&handler);
}

// Commands may answer from a worker thread; the page's transport lives on the UI thread.
void TestMessageRouter::replyFromAnotherThreadReachesThePageOnTheUiThread()
{
    RecordingHandler handler;
    m_router->AddHandler(&handler, false);
    CefRefPtr<CefV8Context> page = document(m_browser1, QStringLiteral("page"));
    ask(page, 1, QStringLiteral("slow"));
    ask(page, 2, QStringLiteral("slower"));

    std::thread worker([&handler] {
        handler.queries.at(0).callback->Success(QStringLiteral("from a worker"));
        handler.queries.at(1).callback->Failure(0, QStringLiteral("failed on a worker"));
    });
    worker.join();
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 0);
    QTRY_COMPARE(m_transport.replies.size(), 2);
    for (const Reply &r : m_transport.replies)
        QCOMPARE(r.thread, QCoreApplication::instance()->thread());
    QCOMPARE(m_transport.replies.at(0).text, QStringLiteral("from a worker"));
    QCOMPARE(m_transport.replies.at(1).text, QStringLiteral("failed on a worker"));

    // A document released before the handed-over reply is delivered does not get it.
    ask(page, 3, QStringLiteral("released meanwhile"));
    std::thread late([&handler] { handler.queries.at(2).callback->Success(QStringLiteral("too late")); });
    late.join();
    page->invalidate();
    QCoreApplication::processEvents();
    QCOMPARE(m_transport.replies.size(), 2);
    m_router->RemoveHandler(&handler);
}

void TestMessageRouter::replyInsideOnQueryLeavesNothingPending()
{
    // The window commands answer while the router is still handing the query over.
    RecordingHandler handler;
    handler.replyAtOnce = true;
    m_router->AddHandler(&handler, false);
    ask(document(m_browser1, QStringLiteral("page")), 1, QStringLiteral("minimise"));
    QCOMPARE(handler.queries.size(), 1);
    QCOMPARE(m_transport.replies.size(), 1);
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

    ask(document(m_browser1, QStringLiteral("page")), 1, QStringLiteral("q"));
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
    CefRefPtr<CefV8Context> page = document(m_browser1, QStringLiteral("page"));
    ask(page, 1, QStringLiteral("q"));
    QCOMPARE(decliner.queries.size(), 1);
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 0);
    QCOMPARE(m_transport.forgotten, QStringList{QStringLiteral("page/1")}); // the page lets go of it too

    // A late reply through the callback the decliner saw must neither answer the page nor touch
    // another query.
    m_router->AddHandler(&other, false);
    ask(page, 2, QStringLiteral("q2"));
    decliner.queries.at(0).callback->Success(QStringLiteral("late"));
    QVERIFY(m_transport.replies.isEmpty());
    QCOMPARE(m_router->GetPendingCount(nullptr, &other), 1);

    m_router->RemoveHandler(&decliner);
    m_router->RemoveHandler(&other);
}

// A command that ends without a reply releases its callback; nothing can answer that query any
// more, so it must not stay pending until the page navigates.
void TestMessageRouter::queryWhoseCallbackIsReleasedIsForgotten()
{
    RecordingHandler handler;
    m_router->AddHandler(&handler, false);
    CefRefPtr<CefV8Context> page = document(m_browser1, QStringLiteral("page"));
    for (int id = 1; id <= 3; ++id)
        ask(page, id, QStringLiteral("no reply"));
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 3);

    handler.queries.remove(1); // the second query's last reference goes
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 2);
    handler.queries.clear();
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 0);
    QVERIFY(handler.canceled.isEmpty()); // nobody is told: nobody held the query
    // The page is told to let go of each, without a reply: otherwise it would keep every such
    // query, and its request text, for as long as it lives.
    QVERIFY(m_transport.replies.isEmpty());
    QCOMPARE(m_transport.forgotten, (QStringList{QStringLiteral("page/2"), QStringLiteral("page/1"), QStringLiteral("page/3")}));
}

void TestMessageRouter::cancellation_data()
{
    QTest::addColumn<Ending>("ending");
    QTest::addColumn<int>("browserId");
    QTest::addColumn<QString>("context");
    QTest::addColumn<qint64>("queryId");
    QTest::addColumn<int>("expectCanceled");

    // Browser 1's document "a" has queries 1 and 2, browser 2's document "a" query 1.
    QTest::newRow("navigation") << Ending::BeforeBrowse << 1 << "" << qint64(0) << 2;
    QTest::newRow("navigation of the other browser") << Ending::BeforeBrowse << 2 << "" << qint64(0) << 1;
    QTest::newRow("browser closes") << Ending::BeforeClose << 1 << "" << qint64(0) << 2;
    QTest::newRow("render process gone") << Ending::RenderProcessGone << 1 << "" << qint64(0) << 2;
    QTest::newRow("page withdraws one") << Ending::PageWithdraws << 1 << "a" << qint64(2) << 1;
    QTest::newRow("withdraw an unknown id") << Ending::PageWithdraws << 1 << "a" << qint64(9) << 0;
    QTest::newRow("withdraw from another document") << Ending::PageWithdraws << 1 << "b" << qint64(1) << 0;
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
    CefRefPtr<CefV8Context> a1 = document(m_browser1, QStringLiteral("a"));
    CefRefPtr<CefV8Context> a2 = document(m_browser2, QStringLiteral("a"));
    ask(a1, 1, QStringLiteral("q1"));
    ask(a1, 2, QStringLiteral("q2"));
    ask(a2, 1, QStringLiteral("q3"));
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 3);

    const CefRefPtr<CefBrowser> browser = browserId == 1 ? m_browser1 : browserId == 2 ? m_browser2 : nullptr;
    switch (ending) {
    case Ending::BeforeBrowse: m_router->OnBeforeBrowse(browser, browser->GetMainFrame()); break;
    case Ending::BeforeClose: m_router->OnBeforeClose(browser); break;
    case Ending::RenderProcessGone: m_router->OnRenderProcessTerminated(browser); break;
    case Ending::PageWithdraws:
        m_router->ReceiveCancel(browser, context == QLatin1String("a") ? a1 : document(browser, context), queryId);
        break;
    case Ending::RemoveHandler: QVERIFY(m_router->RemoveHandler(&handler)); break;
    case Ending::CancelPending: m_router->CancelPending(browser, nullptr); break;
    }

    QCOMPARE(handler.canceled.size(), expectCanceled);
    for (const auto &c : handler.canceled) {
        if (browser)
            QCOMPARE(c.first, browserId);
        if (ending == Ending::PageWithdraws)
            QCOMPARE(c.second, int64(queryId));
    }
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 3 - expectCanceled);

    // A reply to a cancelled query does nothing: no answer, no second cancellation, no other
    // query ended.
    for (const Query &q : handler.queries)
        if (handler.canceled.contains(qMakePair(q.browserId, q.queryId)))
            q.callback->Success(QStringLiteral("late"));
    QVERIFY(m_transport.replies.isEmpty());
    QCOMPARE(handler.canceled.size(), expectCanceled);
    QCOMPARE(m_router->GetPendingCount(nullptr, nullptr), 3 - expectCanceled);
    m_router->RemoveHandler(&handler);
}

QTEST_GUILESS_MAIN(TestMessageRouter)
#include "tst_message_router.moc"
