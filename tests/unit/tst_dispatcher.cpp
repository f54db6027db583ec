// The main window's command dispatcher, driven with command texts as the page sends them and a
// callback that records the reply, with every subsystem's commands registered. No client handler
// exists in this process, so the window's view never creates a browser and the web engine stays
// asleep.
#include "command_test_support.h"
#include "device_commands.h"
#include "devices_handler.h"
#include "hook_handler.h"
#include "mouse_commands.h"
#include "profile_commands.h"
#include "profile_store.h"
#include "settings_commands.h"
#include "update_commands.h"
#include "vexa.h"
#include "window_ops.h"

#include <QtTest>

namespace {

class RecordingReplies : public CefQueryCallback {
public:
    struct Reply {
        bool success;
        int code;
        QString text;
    };
    void Success(const CefString &response) override { replies.append({true, 0, response}); }
    void Failure(int error_code, const CefString &error_message) override
    {
        replies.append({false, error_code, error_message});
    }
    QVector<Reply> replies;
};

enum class Outcome { NoReply, Success, Failure };

} // namespace

Q_DECLARE_METATYPE(Outcome)

class TestDispatcher : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void commandTableHoldsEveryPageCommandInOrder();
    void windowTexts_data();
    void windowTexts();
    void commandText_data();
    void commandText();

private:
    QTemporaryDir m_appDir;
    std::unique_ptr<FakeContext> m_context;
    std::unique_ptr<devices_handler> m_devices;
    std::unique_ptr<ProfileStore> m_profiles;
    std::unique_ptr<Profiles> m_profileCommands;
    std::unique_ptr<Pads> m_pads;
    std::unique_ptr<MacroRecorder> m_recorder;
    CommandRegistry m_commands;
    vexa *m_window = nullptr;
};

void TestDispatcher::initTestCase()
{
    // No settings file: like a settings file that cannot be read.
    m_context.reset(new FakeContext(m_appDir.path()));
    m_devices.reset(new devices_handler(QStringList(), nullptr, nullptr));
    m_profiles.reset(new ProfileStore(m_appDir.path()));
    m_recorder.reset(new MacroRecorder(nullptr));
    // Each subsystem registers its own, as the application wires them.
    m_pads.reset(new Pads{*m_devices, *m_context});
    registerDeviceCommands(m_commands, *m_pads);
    m_profileCommands.reset(new Profiles{*m_profiles, {}});
    registerProfileCommands(m_commands, *m_profileCommands);
    registerMouseCommands(m_commands);
    registerRecorderCommands(m_commands, *m_recorder);
    registerUpdateCommands(m_commands, [] {});
    m_window = new vexa(*m_context, m_commands);
    registerSettingsCommands(m_commands, m_context->settings(), *m_window);
}

void TestDispatcher::cleanupTestCase()
{
    delete m_window;
    // The window took its own commands with it.
    QVERIFY(!m_commands.contains(QStringLiteral("goback")));
    QVERIFY(m_commands.contains(QStringLiteral("readByAddr")));
}

void TestDispatcher::commandTableHoldsEveryPageCommandInOrder()
{
    // Matching runs in this order; the page's names are fixed, including their odd casing.
    const QStringList expected = {
        "getDevicesList",       "readDevicesProp",     "writeDevicesProp",     "readByAddr",
        "writeByAddr",          "notifyDevice",        "isPropEmpty",          "cleanMacroByAddr",
        "writeMacroByAddr",     "loadurl",             "queryProfile",         "nodeCounterProfile",
        "modifyProfile",        "modifyProfileEx",     "modifyRemoveProfile",  "modifyAddProfile",
        "modifyReplaceProfile", "modifyReplaceProfileEx", "resetProfile",      "queryHexByte",
        "goback",               "goforward",           "getConf",              "setConf",
        "checkUpdate",          "savexml",             "saveXmlAs",            "modifyMouseSpeed",
        "modifyMouseScrollLines", "modifyMouseDoubleClick", "closeApp",        "startRecord",
        "stopRecord",           "saveFileDialog",      "openFileDialog",       "openUrl",
        "openFileDialogExe",    "confChanged",         "openView",             "closeView",
        "sendMsgToMainBrowser",
    };
    QCOMPARE(CommandRegistry::commandNames(), expected);
    // Every one has its command once the subsystems and the window are wired.
    QCOMPARE(m_commands.registeredNames(), expected);
    // A name outside the table, or a second registration, is refused.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("formatDisk"));
    QVERIFY(!m_commands.add(QStringLiteral("formatDisk"), [](const CommandArgs &, const QueryCallbackPtr &) {}));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("goback"));
    QVERIFY(!m_commands.add(QStringLiteral("goback"), [](const CommandArgs &, const QueryCallbackPtr &) {}));
}

void TestDispatcher::windowTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("maximize");
    QTest::addColumn<bool>("restore");

    QTest::newRow("maximise") << R"({"funcname":"maxsizeWindow"})" << true << false;
    QTest::newRow("restore") << R"({"funcname":"restoreWindow"})" << false << true;
    // Recognised by the exact text only; anything else is an ordinary command text.
    QTest::newRow("maximise with blanks") << R"({ "funcname" : "maxsizeWindow" })" << false << false;
    QTest::newRow("restore with a blank") << R"({"funcname": "restoreWindow"})" << false << false;
    QTest::newRow("maximise with a newline") << "{\"funcname\":\"maxsizeWindow\"}\n" << false << false;
    QTest::newRow("maximise with another member")
        << R"({"funcname":"maxsizeWindow","x":1})" << false << false;
    QTest::newRow("maximise other case") << R"({"funcname":"MaxsizeWindow"})" << false << false;
    QTest::newRow("minimise") << R"({"funcname":"minisizeWindow"})" << false << false;
}

void TestDispatcher::windowTexts()
{
    QFETCH(QString, text);
    QFETCH(bool, maximize);
    QFETCH(bool, restore);
    QCOMPARE(vexa::isMaximizeText(text), maximize);
    QCOMPARE(vexa::isRestoreText(text), restore);
}

void TestDispatcher::commandText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("replyText");

    // Commands whose reply does not depend on a device, a browser or a settings file.
    QTest::newRow("command") << R"({"funcname":"goback"})" << Outcome::Success << "goback";
    QTest::newRow("command with blanks") << R"( { "funcname" : "goforward" } )" << Outcome::Success << "goforward";
    QTest::newRow("funcname after other members")
        << R"({"x":[1,{"y":null}],"funcname":"goback"})" << Outcome::Success << "goback";
    QTest::newRow("required argument present")
        << R"({"funcname":"sendMsgToMainBrowser","msg":"hello"})" << Outcome::Success
        << "sendMsgToMainBrowser success";
    QTest::newRow("required argument present as a number")
        << R"({"funcname":"sendMsgToMainBrowser","msg":5})" << Outcome::Success << "sendMsgToMainBrowser success";
    // Without a settings file the failure must carry code 0 like every failure reply.
    QTest::newRow("failure reply") << R"({"funcname":"getConf"})" << Outcome::Failure << "cant find conf.xml";

    QTest::newRow("required argument missing") << R"({"funcname":"sendMsgToMainBrowser"})" << Outcome::NoReply << "";
    QTest::newRow("required argument in other case")
        << R"({"funcname":"sendMsgToMainBrowser","Msg":"hello"})" << Outcome::NoReply << "";
    QTest::newRow("command name in other case") << R"({"funcname":"GoBack"})" << Outcome::NoReply << "";
    QTest::newRow("member name in other case") << R"({"FuncName":"goback"})" << Outcome::NoReply << "";
    QTest::newRow("no funcname") << R"({"name":"goback"})" << Outcome::NoReply << "";
    QTest::newRow("funcname not a string") << R"({"funcname":["goback"]})" << Outcome::NoReply << "";
    QTest::newRow("funcname null") << R"({"funcname":null})" << Outcome::NoReply << "";
    QTest::newRow("unknown command") << R"({"funcname":"formatDisk"})" << Outcome::NoReply << "";
    QTest::newRow("array") << R"([{"funcname":"goback"}])" << Outcome::NoReply << "";
    QTest::newRow("not JSON") << "goback" << Outcome::NoReply << "";
    QTest::newRow("text after the object") << R"({"funcname":"goback"};)" << Outcome::NoReply << "";
    QTest::newRow("empty text") << "" << Outcome::NoReply << "";
    QTest::newRow("maximise") << R"({"funcname":"maxsizeWindow"})" << Outcome::NoReply << "";
    QTest::newRow("maximise with blanks") << R"({ "funcname" : "maxsizeWindow" })" << Outcome::NoReply << "";
    QTest::newRow("restore") << R"({"funcname":"restoreWindow"})" << Outcome::NoReply << "";
    // The router handler acts on these itself; should one slip through, it is no table command.
    QTest::newRow("minimise") << R"({"funcname":"minisizeWindow"})" << Outcome::NoReply << "";
    QTest::newRow("move as JSON") << R"({"funcname":"moveWindow"})" << Outcome::NoReply << "";
}

void TestDispatcher::commandText()
{
    QFETCH(QString, text);
    QFETCH(Outcome, outcome);
    QFETCH(QString, replyText);

    // Off the work area's corner, so that covering it shows.
    m_window->move(10, 20);
    const QRect before = m_window->geometry();
    QVERIFY(before != WindowOps::workArea());
    CefRefPtr<RecordingReplies> callback = new RecordingReplies;
    m_window->onJsMessage(text, callback);

    if (outcome == Outcome::NoReply) {
        QCOMPARE(callback->replies.size(), 0);
    } else {
        QCOMPARE(callback->replies.size(), 1);
        QCOMPARE(callback->replies.at(0).success, outcome == Outcome::Success);
        QCOMPARE(callback->replies.at(0).code, 0);
        QCOMPARE(callback->replies.at(0).text, replyText);
    }
    // Whatever happened, the dispatcher kept no reference: an unanswered query must not be held.
    QVERIFY(callback->HasOneRef());
    // Only the exact maximise text makes the window cover the work area; no other text moves it.
    if (text == QLatin1String(R"({"funcname":"maxsizeWindow"})")) {
        QCOMPARE(m_window->geometry(), WindowOps::workArea());
        m_window->onJsMessage(QStringLiteral(R"({"funcname":"restoreWindow"})"), callback);
    }
    QCOMPARE(m_window->geometry(), before);
}

QTEST_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"
