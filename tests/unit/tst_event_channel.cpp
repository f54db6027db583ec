// The render side of native events: pages register callbacks with setMessageCallback, process
// messages from the browser side are delivered to them. Driven through windowless test browsers
// and contexts whose transport records what would reach the page.
#include "page_event_delegate.h"
#include "page_notifications.h"

#include <QtTest>

#include <memory>

namespace {

// A value of a type the page conversion has no counterpart for.
struct Opaque {
    CefValueType type = VTYPE_BINARY;
};

} // namespace

Q_DECLARE_METATYPE(Opaque)
Q_DECLARE_METATYPE(CefV8ValueList)

namespace {

struct FunctionCall {
    QString token;
    int functionId;
    QVariantList args;
    QString currentToken; // the context entered while the page function was called
};

class RecordingTransport : public CefV8Transport {
public:
    void callFunction(const QString &contextToken, int functionId, const QVariantList &args) override
    {
        CefRefPtr<CefV8Context> current = CefV8Context::GetCurrentContext();
        calls.append({contextToken, functionId, args, current ? current->token() : QString()});
        if (onCall)
            onCall();
    }
    void deliverReply(const QString &, int64, bool, int, const QString &) override {}
    void forgetQuery(const QString &, int64) override {}

    QVector<FunctionCall> calls;
    std::function<void()> onCall;
};

// Builds a runtime list from a description: int, bool, double, string, nested list, invalid
// (null) or Opaque.
void fill(const CefRefPtr<CefListValue> &list, const QVariantList &values)
{
    for (int i = 0; i < values.size(); ++i) {
        const QVariant &v = values.at(i);
        const size_t index = size_t(i);
        switch (int(v.userType())) {
        case QMetaType::Int: list->SetInt(index, v.toInt()); break;
        case QMetaType::Bool: list->SetBool(index, v.toBool()); break;
        case QMetaType::Double: list->SetDouble(index, v.toDouble()); break;
        case QMetaType::QString: list->SetString(index, v.toString()); break;
        case QMetaType::QVariantList: {
            CefRefPtr<CefListValue> nested = CefListValue::Create();
            fill(nested, v.toList());
            list->SetList(index, nested);
            break;
        }
        case QMetaType::UnknownType: list->SetNull(index); break;
        default:
            if (v.canConvert<Opaque>())
                list->SetOpaque(index, v.value<Opaque>().type);
            else
                qFatal("unsupported fixture value %s", v.typeName());
        }
    }
}

CefRefPtr<CefProcessMessage> message(const QString &name, const QVariantList &values = {})
{
    CefRefPtr<CefProcessMessage> m = CefProcessMessage::Create(name);
    fill(m->GetArgumentList(), values);
    return m;
}

// Compares values and their types: the page must see 1 as an integer and 1.0 as a number.
bool sameTyped(const QVariantList &actual, const QVariantList &expected)
{
    if (actual.size() != expected.size())
        return false;
    for (int i = 0; i < actual.size(); ++i) {
        const QVariant &a = actual.at(i);
        const QVariant &e = expected.at(i);
        if (a.userType() != e.userType())
            return false;
        if (e.userType() == QMetaType::QVariantList ? !sameTyped(a.toList(), e.toList()) : a != e)
            return false;
    }
    return true;
}

} // namespace

class TestEventChannel : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void valuesArriveAsOneTypedArray_data();
    void valuesArriveAsOneTypedArray();
    void firstRegistrationWinsUntilItsContextGoes();
    void releaseRemovesOnlyThatContextsEntries();
    void eventsGoToTheReceivingBrowserOnly();
    void otherNamesAreNeverDelivered_data();
    void otherNamesAreNeverDelivered();
    void wrongArgumentsRegisterNothing_data();
    void wrongArgumentsRegisterNothing();
    void callbackMayReleaseItsOwnContext();
    void shutdownLetsGoOfWhatTheRuntimeHeld();

private:
    CefRefPtr<CefV8Context> newContext(const CefRefPtr<CefBrowser> &browser, const QString &token);
    void release(const CefRefPtr<CefV8Context> &context);
    // Calls window.setMessageCallback(...) in the page of the context.
    void callSetMessageCallback(const CefRefPtr<CefV8Context> &context, const CefV8ValueList &args);
    void registerCallback(const CefRefPtr<CefV8Context> &context, const QString &name, int functionId);
    bool send(const CefRefPtr<CefBrowser> &browser, const CefRefPtr<CefProcessMessage> &m);

    RecordingTransport m_transport;
    CefRefPtr<performance_test::RenderDelegate> m_delegate;
    CefRefPtr<CefBrowser> m_browser1;
    CefRefPtr<CefBrowser> m_browser2;
};

void TestEventChannel::init()
{
    performance_test::RenderDelegate::callbacks().clear();
    m_transport = RecordingTransport();
    m_delegate = new performance_test::RenderDelegate;
    m_browser1 = CefBrowser::CreateForTesting(1);
    m_browser2 = CefBrowser::CreateForTesting(2);
}

void TestEventChannel::cleanup()
{
    // The registry outlives the delegate; its contexts point at this test's transport.
    performance_test::RenderDelegate::callbacks().clear();
    m_delegate = nullptr;
    QVERIFY(!CefV8Context::GetCurrentContext());
}

CefRefPtr<CefV8Context> TestEventChannel::newContext(const CefRefPtr<CefBrowser> &browser, const QString &token)
{
    CefRefPtr<CefV8Context> context = new CefV8Context(browser, token, &m_transport);
    m_delegate->OnContextCreated(nullptr, browser, browser->GetMainFrame(), context);
    return context;
}

void TestEventChannel::release(const CefRefPtr<CefV8Context> &context)
{
    m_delegate->OnContextReleased(nullptr, context->GetBrowser(), context->GetFrame(), context);
    context->invalidate();
}

void TestEventChannel::callSetMessageCallback(const CefRefPtr<CefV8Context> &context, const CefV8ValueList &args)
{
    CefRefPtr<CefV8Value> retval;
    CefString exception;
    context->Enter();
    const bool handled = context->CallNativeFunction(QStringLiteral("setMessageCallback"), args, retval, exception);
    context->Exit();
    // The page sees undefined and no exception, whatever it passed.
    QVERIFY(!handled);
    QVERIFY(exception.isEmpty());
}

void TestEventChannel::registerCallback(const CefRefPtr<CefV8Context> &context, const QString &name, int functionId)
{
    callSetMessageCallback(context, {CefV8Value::CreateString(name), CefV8Value::CreateFunctionHandle(functionId)});
}

bool TestEventChannel::send(const CefRefPtr<CefBrowser> &browser, const CefRefPtr<CefProcessMessage> &m)
{
    return m_delegate->OnProcessMessageReceived(nullptr, browser, PID_BROWSER, m);
}

void TestEventChannel::valuesArriveAsOneTypedArray_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariantList>("sent");
    QTest::addColumn<QVariantList>("received");

    // The seven events with the values their senders put in.
    const QVariantList macro = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")};
    QTest::newRow("devicesChanged") << "devicesChanged" << QVariantList{3} << QVariantList{3};
    QTest::newRow("onDeviceData") << "onDeviceData" << QVariantList{QStringLiteral("01,02")}
                                  << QVariantList{QStringLiteral("01,02")};
    QTest::newRow("currentPropChanged") << "currentPropChanged" << QVariantList{2, 1} << QVariantList{2, 1};
    QTest::newRow("macroItem") << "macroItem" << macro << macro;
    QTest::newRow("onProcessChanged") << "onProcessChanged" << QVariantList{QStringLiteral("game.exe"), true}
                                      << QVariantList{QStringLiteral("game.exe"), true};
    QTest::newRow("navStateChanged") << "navStateChanged" << QVariantList{false, false} << QVariantList{false, false};
    QTest::newRow("onBrowserMsg") << "onBrowserMsg" << QVariantList{QStringLiteral("pageError")}
                                  << QVariantList{QStringLiteral("pageError")};

    // Conversion of every value type.
    QTest::newRow("no values") << "devicesChanged" << QVariantList{} << QVariantList{};
    QTest::newRow("double stays a number") << "devicesChanged" << QVariantList{2.5, 1.0} << QVariantList{2.5, 1.0};
    QTest::newRow("non-ASCII text") << "onDeviceData" << QVariantList{QStringLiteral(u"\u00fc\u20ac")}
                                    << QVariantList{QStringLiteral(u"\u00fc\u20ac")};
    QTest::newRow("nested lists") << "onDeviceData"
                                  << QVariantList{1, QVariantList{QStringLiteral("x"), QVariantList{true}}}
                                  << QVariantList{1, QVariantList{QStringLiteral("x"), QVariantList{true}}};
    QTest::newRow("null") << "onDeviceData" << QVariantList{QVariant(), 1} << QVariantList{QVariant(), 1};
    QTest::newRow("binary and dictionary become null")
        << "onDeviceData"
        << QVariantList{QVariant::fromValue(Opaque{VTYPE_BINARY}), QVariant::fromValue(Opaque{VTYPE_DICTIONARY}), 7}
        << QVariantList{QVariant(), QVariant(), 7};
    QTest::newRow("unknown type inside a nested list")
        << "onDeviceData" << QVariantList{QVariant(QVariantList{QVariant::fromValue(Opaque{VTYPE_BINARY})})}
        << QVariantList{QVariant(QVariantList{QVariant()})};
}

void TestEventChannel::valuesArriveAsOneTypedArray()
{
    QFETCH(QString, name);
    QFETCH(QVariantList, sent);
    QFETCH(QVariantList, received);

    CefRefPtr<CefV8Context> context = newContext(m_browser1, QStringLiteral("page"));
    registerCallback(context, name, 5);
    send(m_browser1, message(name, sent));

    QCOMPARE(m_transport.calls.size(), 1);
    const FunctionCall &call = m_transport.calls.at(0);
    QCOMPARE(call.token, QStringLiteral("page"));
    QCOMPARE(call.functionId, 5);
    if (!sameTyped(call.args, received)) {
        QString shown;
        QDebug(&shown) << call.args;
        QFAIL(qPrintable(QStringLiteral("received ") + shown));
    }
    // The callback runs inside its own context, and the context is left again afterwards.
    QCOMPARE(call.currentToken, QStringLiteral("page"));
    QVERIFY(!CefV8Context::GetCurrentContext());
}

void TestEventChannel::firstRegistrationWinsUntilItsContextGoes()
{
    CefRefPtr<CefV8Context> first = newContext(m_browser1, QStringLiteral("first"));
    registerCallback(first, QStringLiteral("devicesChanged"), 1);
    registerCallback(first, QStringLiteral("devicesChanged"), 2);
    // Another context of the same browser cannot take the name over either.
    CefRefPtr<CefV8Context> other = newContext(m_browser1, QStringLiteral("other"));
    registerCallback(other, QStringLiteral("devicesChanged"), 3);

    send(m_browser1, message(QStringLiteral("devicesChanged"), {1}));
    QCOMPARE(m_transport.calls.size(), 1);
    QCOMPARE(m_transport.calls.at(0).token, QStringLiteral("first"));
    QCOMPARE(m_transport.calls.at(0).functionId, 1);

    // A reload: the old document's callbacks go, nothing is delivered until the new one registers.
    release(first);
    release(other);
    m_transport.calls.clear();
    send(m_browser1, message(QStringLiteral("devicesChanged"), {2}));
    QCOMPARE(m_transport.calls.size(), 0);

    CefRefPtr<CefV8Context> reloaded = newContext(m_browser1, QStringLiteral("reloaded"));
    registerCallback(reloaded, QStringLiteral("devicesChanged"), 4);
    send(m_browser1, message(QStringLiteral("devicesChanged"), {3}));
    QCOMPARE(m_transport.calls.size(), 1);
    QCOMPARE(m_transport.calls.at(0).token, QStringLiteral("reloaded"));
    QCOMPARE(m_transport.calls.at(0).functionId, 4);
}

void TestEventChannel::releaseRemovesOnlyThatContextsEntries()
{
    CefRefPtr<CefV8Context> main = newContext(m_browser1, QStringLiteral("main"));
    CefRefPtr<CefV8Context> popup = newContext(m_browser2, QStringLiteral("popup"));
    registerCallback(main, QStringLiteral("devicesChanged"), 1);
    registerCallback(main, QStringLiteral("onDeviceData"), 2);
    registerCallback(popup, QStringLiteral("devicesChanged"), 3);

    release(main);

    const auto &registry = performance_test::RenderDelegate::callbacks();
    QCOMPARE(int(registry.size()), 1);
    QCOMPARE(QString::fromStdString(registry.begin()->first.first), QStringLiteral("devicesChanged"));
    QCOMPARE(registry.begin()->first.second, 2);
    send(m_browser2, message(QStringLiteral("devicesChanged"), {1}));
    QCOMPARE(m_transport.calls.size(), 1);
    QCOMPARE(m_transport.calls.at(0).token, QStringLiteral("popup"));
}

void TestEventChannel::eventsGoToTheReceivingBrowserOnly()
{
    CefRefPtr<CefV8Context> main = newContext(m_browser1, QStringLiteral("main"));
    CefRefPtr<CefV8Context> popup = newContext(m_browser2, QStringLiteral("popup"));
    registerCallback(main, QStringLiteral("navStateChanged"), 1);
    registerCallback(popup, QStringLiteral("navStateChanged"), 2);
    registerCallback(popup, QStringLiteral("onBrowserMsg"), 3);

    send(m_browser1, message(QStringLiteral("navStateChanged"), {true, false}));
    // The main page registered no "onBrowserMsg"; the pop-up's registration does not stand in.
    send(m_browser1, message(QStringLiteral("onBrowserMsg"), {QStringLiteral("pageError")}));
    send(CefBrowser::CreateForTesting(3), message(QStringLiteral("navStateChanged"), {true, true}));

    QCOMPARE(m_transport.calls.size(), 1);
    QCOMPARE(m_transport.calls.at(0).token, QStringLiteral("main"));
    QCOMPARE(m_transport.calls.at(0).functionId, 1);
}

void TestEventChannel::otherNamesAreNeverDelivered_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("unknown") << "somethingElse";
    QTest::newRow("other case") << "DevicesChanged";
    QTest::newRow("prefix of an event") << "devicesChange";
    QTest::newRow("event with a suffix") << "devicesChanged2";
    QTest::newRow("empty") << "";
}

void TestEventChannel::otherNamesAreNeverDelivered()
{
    QFETCH(QString, name);

    CefRefPtr<CefV8Context> context = newContext(m_browser1, QStringLiteral("page"));
    registerCallback(context, name, 1);
    QVERIFY(!send(m_browser1, message(name, {1})));
    QCOMPARE(m_transport.calls.size(), 0);
}

void TestEventChannel::wrongArgumentsRegisterNothing_data()
{
    QTest::addColumn<CefV8ValueList>("args");

    const CefRefPtr<CefV8Value> name = CefV8Value::CreateString(QStringLiteral("devicesChanged"));
    const CefRefPtr<CefV8Value> function = CefV8Value::CreateFunctionHandle(1);
    QTest::newRow("no arguments") << CefV8ValueList{};
    QTest::newRow("name only") << CefV8ValueList{name};
    QTest::newRow("second is a string") << CefV8ValueList{name, CefV8Value::CreateString(QStringLiteral("handler"))};
    QTest::newRow("second is an object") << CefV8ValueList{name, CefV8Value::CreateObject()};
    QTest::newRow("second is null") << CefV8ValueList{name, CefV8Value::CreateNull()};
    QTest::newRow("first is a number") << CefV8ValueList{CefV8Value::CreateInt(1), function};
    QTest::newRow("swapped") << CefV8ValueList{function, name};
    QTest::newRow("three arguments") << CefV8ValueList{name, function, CefV8Value::CreateFunctionHandle(2)};
}

void TestEventChannel::wrongArgumentsRegisterNothing()
{
    QFETCH(CefV8ValueList, args);

    CefRefPtr<CefV8Context> context = newContext(m_browser1, QStringLiteral("page"));
    callSetMessageCallback(context, args);
    QVERIFY(performance_test::RenderDelegate::callbacks().empty());
    send(m_browser1, message(QStringLiteral("devicesChanged"), {1}));
    QCOMPARE(m_transport.calls.size(), 0);

    // The failed call must not block a correct one.
    registerCallback(context, QStringLiteral("devicesChanged"), 9);
    send(m_browser1, message(QStringLiteral("devicesChanged"), {1}));
    QCOMPARE(m_transport.calls.size(), 1);
    QCOMPARE(m_transport.calls.at(0).functionId, 9);
}

void TestEventChannel::callbackMayReleaseItsOwnContext()
{
    // The page callback navigates away: its context, and with it the registry entry being
    // delivered, goes while the delivery is still running.
    CefRefPtr<CefV8Context> context = newContext(m_browser1, QStringLiteral("page"));
    registerCallback(context, QStringLiteral("onBrowserMsg"), 1);
    registerCallback(context, QStringLiteral("devicesChanged"), 2);
    CefV8Context *raw = context.get();
    context = nullptr; // only the registry holds it now
    m_transport.onCall = [this, raw] { release(CefRefPtr<CefV8Context>(raw)); };

    send(m_browser1, message(QStringLiteral("onBrowserMsg"), {QStringLiteral("bye")}));

    QCOMPARE(m_transport.calls.size(), 1);
    QVERIFY(performance_test::RenderDelegate::callbacks().empty());
    QVERIFY(!CefV8Context::GetCurrentContext());
}

void TestEventChannel::shutdownLetsGoOfWhatTheRuntimeHeld()
{
    // Registrations hold their documents and the sink holds what the application gave it; once
    // the application's set-up has shut the runtime down, nothing of that may be kept alive.
    cefLogConfigure(QString(), LOGSEVERITY_DISABLE); // no log file for this test to write
    CefRefPtr<CefV8Context> context = newContext(m_browser1, QStringLiteral("page"));
    registerCallback(context, QStringLiteral("devicesChanged"), 1);
    auto captured = std::make_shared<int>(0);
    const std::weak_ptr<int> sinkCapture = captured;
    vexa_runtime::setNotificationSink([captured](const QString &, const QString &) {});
    captured.reset();
    QVERIFY(!context->HasOneRef());
    QVERIFY(!sinkCapture.expired());

    CefShutdown();

    QVERIFY(context->HasOneRef());
    QVERIFY(sinkCapture.expired());
    QVERIFY(performance_test::RenderDelegate::callbacks().empty());
    send(m_browser1, message(QStringLiteral("devicesChanged"), {1}));
    QCOMPARE(m_transport.calls.size(), 0);
}

QTEST_GUILESS_MAIN(TestEventChannel)
#include "tst_event_channel.moc"
