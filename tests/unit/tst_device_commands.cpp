// The pad commands as the page sends them, through the command registry: first with no device
// library at all, then against the virtual library loaded the way the program loads it.
#include "command_test_support.h"
#include "device_commands.h"
#include "devices_handler.h"

#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

const char kConf[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<root>
	<client language="en" />
	<conf deviceId="5E1C7A92" name="PX-ORB42">
		<info name="产品信息" productType="gamepad" productName="PX-ORB42" productCN="PX-ORB42-01" device="PX-ORB42" />
	</conf>
</root>
)";

} // namespace

class TestDeviceCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void withoutLibrary_data();
    void withoutLibrary();
    void listsTheVirtualPadWithItsProductInformation();
    void listFailsOnABrokenSettingsText();
    void propertiesRoundTrip();
    void memoryRoundTrip();
    void shortByteListsAndOversizedRequests();
    void writesAboveTheBufferFailWithNothingWritten();
    void macroOnlyIntoABlankStretch();
    void readsThePadRefusesAreNeverData();
    void notifyHandsOverTypeAndData();

private:
    // One command; its replies (none, one, or, wrongly, more).
    QStringList run(const QString &json);
    QStringList runWithMessages(const QString &json, QStringList *messages);
    QString ask(const QString &json);
    bool needLibrary();
    // The virtual pad's HardwareID and a DevicePath, as JSON members.
    QString devFields() const;
    QString padctl(const QStringList &args, int *exitCode = nullptr);

    QTemporaryDir m_appDir;
    QTemporaryDir m_home;
    std::unique_ptr<FakeContext> m_context;
    // The handler the commands run on: a test's own, or the virtual library's.
    devices_handler *m_handler = nullptr;
    std::unique_ptr<devices_handler> m_library;
    QString m_hardwareId;
};

void TestDeviceCommands::initTestCase()
{
    QVERIFY(m_appDir.isValid() && m_home.isValid());
    // The virtual library keeps its pads here; set before it is loaded.
    qputenv("PADIO_HOME", m_home.path().toLocal8Bit());
    m_context.reset(new FakeContext(m_appDir.path()));
    m_context->settings().setConfText(QString::fromUtf8(kConf));
}

void TestDeviceCommands::cleanupTestCase()
{
    m_library.reset();
}

QStringList TestDeviceCommands::runWithMessages(const QString &json, QStringList *messages)
{
    if (!m_handler)
        return {QStringLiteral("no handler")};
    devices_handler::Sinks sinks = m_handler->sinks();
    sinks.browserMsg = [messages](const QString &text) {
        if (messages)
            *messages << text;
    };
    m_handler->setSinks(sinks);
    CommandRegistry registry;
    Pads pads{*m_handler, *m_context};
    registerDeviceCommands(registry, pads);
    return runCommand(registry, json);
}

QStringList TestDeviceCommands::run(const QString &json)
{
    return runWithMessages(json, nullptr);
}

QString TestDeviceCommands::ask(const QString &json)
{
    const QStringList replies = run(json);
    return replies.size() == 1 ? replies.first() : QStringLiteral("%1 replies").arg(replies.size());
}

void TestDeviceCommands::withoutLibrary_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<QStringList>("messages");

    const QString dev = QStringLiteral(R"("HardwareID":"HID\\Vid_5e1c","DevicePath":"p",)");
    QTest::newRow("list is empty") << R"({"funcname":"getDevicesList"})" << QStringList{"success:[]"} << QStringList{};
    // Nothing was read, so there are no bytes to show, and no blank stretch.
    QTest::newRow("property read fails")
        << R"({"funcname":"readDevicesProp",)" + dev + R"("PARAMSIZE":4,"PARAMID":1})"
        << QStringList{"failure:0:readDevicesProp failed!"} << QStringList{};
    QTest::newRow("property write fails, page told")
        << R"({"funcname":"writeDevicesProp",)" + dev + R"("PARAMSIZE":1,"PARAMID":1,"PARAMDATA":"0x01"})"
        << QStringList{"failure:0:writeDevicesProp failed!"} << QStringList{"writeDevicesProp,failed!!"};
    QTest::newRow("blank check fails")
        << R"({"funcname":"isPropEmpty",)" + dev + R"("PARAMSIZE":8,"PARAMADDRESS":"10"})"
        << QStringList{"failure:0:isPropEmpty failed!"} << QStringList{};
    QTest::newRow("memory read fails")
        << R"({"funcname":"readByAddr",)" + dev + R"("PARAMSIZE":3,"PARAMADDRESS":"1f00"})"
        << QStringList{"failure:0:readByAddr failed!"} << QStringList{};
    QTest::newRow("memory write fails")
        << R"({"funcname":"writeByAddr",)" + dev + R"("PARAMSIZE":1,"PARAMADDRESS":"0","PARAMDATA":"0x01"})"
        << QStringList{"failure:0:writeByAddr failed!"} << QStringList{};
    QTest::newRow("notify fails, needs no DevicePath")
        << R"({"funcname":"notifyDevice","HardwareID":"x","NotifyType":1,"NotifyData":2})"
        << QStringList{"failure:0:notifyDevice failed!"} << QStringList{};
    QTest::newRow("clean fails")
        << R"({"funcname":"cleanMacroByAddr",)" + dev + R"("PARAMSIZE":4,"PARAMADDRESS":"0"})"
        << QStringList{"failure:0:cleanMacroByAddr failed!"} << QStringList{};
    QTest::newRow("macro: stretch unread, nothing written")
        << R"({"funcname":"writeMacroByAddr",)" + dev + R"("PARAMSIZE":2,"PARAMADDRESS":"0","PARAMDATA":"0x01,0x02"})"
        << QStringList{"failure:0:writeMacroByAddr failed!"} << QStringList{};
    for (const char *command : {"readDevicesProp", "isPropEmpty", "readByAddr", "cleanMacroByAddr"})
        QTest::newRow(qPrintable(QStringLiteral("%1 without DevicePath").arg(command)))
            << QStringLiteral(R"({"funcname":"%1","HardwareID":"x","PARAMSIZE":1,"PARAMID":1,"PARAMADDRESS":"0"})")
                   .arg(command)
            << QStringList{} << QStringList{};
    for (const char *command : {"writeDevicesProp", "writeByAddr", "writeMacroByAddr"})
        QTest::newRow(qPrintable(QStringLiteral("%1 without PARAMDATA").arg(command)))
            << QStringLiteral(R"({"funcname":"%1",)").arg(command) + dev + R"("PARAMSIZE":1,"PARAMID":1,"PARAMADDRESS":"0"})"
            << QStringList{} << QStringList{};
    QTest::newRow("notify without NotifyData") << R"({"funcname":"notifyDevice","HardwareID":"x","NotifyType":1})"
                                               << QStringList{} << QStringList{};
}

void TestDeviceCommands::withoutLibrary()
{
    QFETCH(QString, json);
    QFETCH(QStringList, replies);
    QFETCH(QStringList, messages);
    // Names that exist nowhere: the handler ends up with no library at all.
    devices_handler handler({QStringLiteral("/nonexistent/padio"), QStringLiteral("vexa-no-such-library")}, nullptr,
                           nullptr);
    QVERIFY(!handler.isLoaded());
    m_handler = &handler;
    QStringList raised;
    const QStringList answered = runWithMessages(json, &raised);
    m_handler = m_library.get();
    QCOMPARE(answered, replies);
    QCOMPARE(raised, messages);
}

bool TestDeviceCommands::needLibrary()
{
    if (!m_library) {
        if (!QFile::exists(QStringLiteral(VEXA_APP_DIR "/padctl")))
            return false;
        m_library.reset(new devices_handler({QStringLiteral(VEXA_APP_DIR "/padio")}, nullptr, nullptr));
        m_handler = m_library.get();
        const QJsonArray list = QJsonDocument::fromJson(ask(R"({"funcname":"getDevicesList"})").mid(8).toUtf8()).array();
        m_hardwareId = list.at(0).toObject().value("HardwareID").toString();
    }
    return m_library->isLoaded() && !m_hardwareId.isEmpty();
}

QString TestDeviceCommands::padctl(const QStringList &args, int *exitCode)
{
    QProcess tool;
    tool.start(QStringLiteral(VEXA_APP_DIR "/padctl"), args);
    tool.waitForFinished(10000);
    if (exitCode)
        *exitCode = tool.exitCode();
    return QString::fromUtf8(tool.readAllStandardOutput() + tool.readAllStandardError());
}

QString TestDeviceCommands::devFields() const
{
    const QByteArray quoted = QJsonDocument(QJsonArray{m_hardwareId}).toJson(QJsonDocument::Compact);
    return QStringLiteral(R"("HardwareID":%1,"DevicePath":"p",)").arg(QString::fromUtf8(quoted.mid(1).chopped(1)));
}

#define NEED_LIBRARY()                                                                                                 \
    if (!needLibrary())                                                                                                \
    QSKIP("the virtual library is not built")

void TestDeviceCommands::listsTheVirtualPadWithItsProductInformation()
{
    NEED_LIBRARY();
    const QString reply = ask(R"({"funcname":"getDevicesList"})");
    QVERIFY2(reply.startsWith(QLatin1String("success:[{\"DeviceID\":\"5E1C7A92\",\"DevicePath\":\"")), qPrintable(reply));
    // Compact, keys in the page's order.
    QVERIFY(!reply.contains(QLatin1Char('\n')));
    const QStringList keyOrder = {"DeviceID", "DevicePath", "HardwareID", "MASK", "SN", "Version", "description",
                                  "device", "productCN", "productName", "productType"};
    int at = 0;
    for (const QString &key : keyOrder) {
        const int found = reply.indexOf(QLatin1Char('"') + key + QLatin1String("\":"), at);
        QVERIFY2(found > at, qPrintable(key));
        at = found;
    }
    const QJsonObject pad = QJsonDocument::fromJson(reply.mid(8).toUtf8()).array().at(0).toObject();
    QCOMPARE(pad.value("productName").toString(), QStringLiteral("PX-ORB42"));
    QCOMPARE(pad.value("description").toString(), QString());
    QVERIFY(pad.value("HardwareID").toString().startsWith(QLatin1String("HID\\")));
}

void TestDeviceCommands::listFailsOnABrokenSettingsText()
{
    NEED_LIBRARY();
    m_context->settings().setConfText(QStringLiteral("<root><conf"));
    const QString reply = ask(R"({"funcname":"getDevicesList"})");
    m_context->settings().setConfText(QString::fromUtf8(kConf));
    QCOMPARE(reply, QStringLiteral("failure:0:queryProfile load xml file failed!"));
}

void TestDeviceCommands::propertiesRoundTrip()
{
    NEED_LIBRARY();
    const QString dev = devFields();
    QStringList messages;
    // Size 2: the third item is not written.
    QCOMPARE(runWithMessages(R"({"funcname":"writeDevicesProp",)" + dev +
                                 R"("PARAMSIZE":2,"PARAMID":7,"PARAMDATA":"0x10,0x20,0x30"})",
                             &messages),
             QStringList{"success:writeDevicesProp success!"});
    QCOMPARE(messages, QStringList{"writeDevicesProp,success!"});
    QCOMPARE(ask(R"({"funcname":"readDevicesProp",)" + dev + R"("PARAMSIZE":2,"PARAMID":7})"),
             QStringLiteral("success:0x10,0x20"));
    QCOMPARE(ask(R"({"funcname":"readDevicesProp",)" + dev + R"("PARAMSIZE":3,"PARAMID":7})"),
             QStringLiteral("success:0x10,0x20,0x00"));
    QCOMPARE(ask(R"({"funcname":"readDevicesProp",)" + dev + R"("PARAMSIZE":0,"PARAMID":7})"),
             QStringLiteral("success:"));
}

void TestDeviceCommands::memoryRoundTrip()
{
    NEED_LIBRARY();
    const QString dev = devFields();
    QCOMPARE(ask(R"({"funcname":"isPropEmpty",)" + dev + R"("PARAMSIZE":3,"PARAMADDRESS":"1f00"})"),
             QStringLiteral("success:true"));
    QCOMPARE(ask(R"({"funcname":"writeByAddr",)" + dev + R"("PARAMSIZE":3,"PARAMADDRESS":"1f00","PARAMDATA":"0x00,0x7f,0x80"})"),
             QStringLiteral("success:writeByAddr success!"));
    QCOMPARE(ask(R"({"funcname":"readByAddr",)" + dev + R"("PARAMSIZE":3,"PARAMADDRESS":"0x1F00"})"),
             QStringLiteral("success:0x00,0x7f,0x80"));
    QCOMPARE(ask(R"({"funcname":"isPropEmpty",)" + dev + R"("PARAMSIZE":3,"PARAMADDRESS":"1f00"})"),
             QStringLiteral("success:false"));
    // What the page wrote is on the pad, as the pad's own tool sees it.
    const QString dump = padctl({"mem", "5E1C7A92", "1f00", "3"});
    QVERIFY2(dump.contains(QLatin1String("00 7f 80"), Qt::CaseInsensitive), qPrintable(dump));
    // Size 0 still reaches the library and answers by its result.
    QCOMPARE(ask(R"({"funcname":"writeByAddr",)" + dev + R"("PARAMSIZE":0,"PARAMADDRESS":"0","PARAMDATA":""})"),
             QStringLiteral("success:writeByAddr success!"));
    QCOMPARE(ask(R"({"funcname":"writeByAddr","HardwareID":"HID\\nobody","DevicePath":"p","PARAMSIZE":1,"PARAMADDRESS":"0","PARAMDATA":"0x01"})"),
             QStringLiteral("failure:0:writeByAddr failed!"));
}

void TestDeviceCommands::shortByteListsAndOversizedRequests()
{
    NEED_LIBRARY();
    const QString dev = devFields();
    QCOMPARE(ask(R"({"funcname":"writeByAddr",)" + dev + R"("PARAMSIZE":4,"PARAMADDRESS":"2000","PARAMDATA":"0xff,0xff,0xff,0xff"})"),
             QStringLiteral("success:writeByAddr success!"));
    // Items the list lacks are written as 0, not taken from anywhere else.
    QCOMPARE(ask(R"({"funcname":"writeByAddr",)" + dev + R"("PARAMSIZE":4,"PARAMADDRESS":"2000","PARAMDATA":"0x01"})"),
             QStringLiteral("success:writeByAddr success!"));
    QCOMPARE(ask(R"({"funcname":"readByAddr",)" + dev + R"("PARAMSIZE":4,"PARAMADDRESS":"2000"})"),
             QStringLiteral("success:0x01,0x00,0x00,0x00"));
    // A read of more than the buffer holds answers the buffer's 2048 bytes; a negative size none.
    const QString back = ask(R"({"funcname":"readByAddr",)" + dev + R"("PARAMSIZE":3000,"PARAMADDRESS":"3000"})");
    QCOMPARE(back.count(QLatin1String("0x")), 2048);
    QCOMPARE(ask(R"({"funcname":"readByAddr",)" + dev + R"("PARAMSIZE":-3,"PARAMADDRESS":"0"})"),
             QStringLiteral("success:"));
}

void TestDeviceCommands::writesAboveTheBufferFailWithNothingWritten()
{
    NEED_LIBRARY();
    const QString dev = devFields();
    QString data;
    for (int i = 0; i < 2049; ++i)
        data += QStringLiteral("0xab,");
    data.chop(1);
    const QString sized = QStringLiteral(R"("PARAMSIZE":2049,"PARAMDATA":")") + data + QStringLiteral(R"(",)");
    // A cut write would leave the end of a macro missing on the pad while the page hears success.
    QCOMPARE(ask(R"({"funcname":"writeByAddr",)" + dev + sized + R"("PARAMADDRESS":"5000"})"),
             QStringLiteral("failure:0:writeByAddr failed!"));
    QCOMPARE(ask(R"({"funcname":"writeMacroByAddr",)" + dev + sized + R"("PARAMADDRESS":"6000"})"),
             QStringLiteral("failure:0:writeMacroByAddr failed!"));
    QCOMPARE(ask(R"({"funcname":"isPropEmpty",)" + dev + R"("PARAMSIZE":2048,"PARAMADDRESS":"5000"})"),
             QStringLiteral("success:true"));
    QCOMPARE(ask(R"({"funcname":"isPropEmpty",)" + dev + R"("PARAMSIZE":2048,"PARAMADDRESS":"6000"})"),
             QStringLiteral("success:true"));

    QStringList messages;
    QCOMPARE(runWithMessages(R"({"funcname":"writeDevicesProp",)" + dev + sized + R"("PARAMID":9})", &messages),
             QStringList{QStringLiteral("failure:0:writeDevicesProp failed!")});
    QCOMPARE(messages, QStringList{QStringLiteral("writeDevicesProp,failed!!")});
    QCOMPARE(ask(R"({"funcname":"readDevicesProp",)" + dev + R"("PARAMSIZE":1,"PARAMID":9})"),
             QStringLiteral("success:0x00"));

    // Cleaning more than the buffer would leave the stretch's end as it was.
    QCOMPARE(ask(R"({"funcname":"writeByAddr",)" + dev + R"("PARAMSIZE":1,"PARAMADDRESS":"7010","PARAMDATA":"0x5a"})"),
             QStringLiteral("success:writeByAddr success!"));
    QCOMPARE(ask(R"({"funcname":"cleanMacroByAddr",)" + dev + R"("PARAMSIZE":2049,"PARAMADDRESS":"7000"})"),
             QStringLiteral("failure:0:cleanMacroByAddr failed!"));
    QCOMPARE(ask(R"({"funcname":"readByAddr",)" + dev + R"("PARAMSIZE":1,"PARAMADDRESS":"7010"})"),
             QStringLiteral("success:0x5a"));
    // The largest write the buffer holds still goes through.
    QCOMPARE(ask(R"({"funcname":"writeByAddr",)" + dev + QString(sized).replace("2049", "2048")
                 + R"("PARAMADDRESS":"5000"})"),
             QStringLiteral("success:writeByAddr success!"));
}

void TestDeviceCommands::macroOnlyIntoABlankStretch()
{
    NEED_LIBRARY();
    const QString dev = devFields();
    const QString macro = R"({"funcname":"writeMacroByAddr",)" + dev + R"("PARAMSIZE":3,"PARAMADDRESS":"4a00","PARAMDATA":"0x11,0x22,0x33"})";
    QCOMPARE(ask(macro), QStringLiteral("success:true"));
    // Occupied: the address comes back as the page wrote it, and nothing is written.
    QCOMPARE(ask(QString(macro).replace("0x11,0x22,0x33", "0x44,0x55,0x66")), QStringLiteral("success:4a00"));
    // A JSON number is read as hexadecimal digits, and answered as its decimal text.
    QCOMPARE(ask(R"({"funcname":"writeMacroByAddr",)" + dev + R"("PARAMSIZE":1,"PARAMADDRESS":"4096","PARAMDATA":"0x01"})"),
             QStringLiteral("success:true"));
    QCOMPARE(ask(R"({"funcname":"writeMacroByAddr",)" + dev + R"("PARAMSIZE":1,"PARAMADDRESS":4096,"PARAMDATA":"0x02"})"),
             QStringLiteral("success:4096"));
    QCOMPARE(ask(R"({"funcname":"readByAddr",)" + dev + R"("PARAMSIZE":3,"PARAMADDRESS":"4a00"})"),
             QStringLiteral("success:0x11,0x22,0x33"));
    QCOMPARE(ask(R"({"funcname":"cleanMacroByAddr",)" + dev + R"("PARAMSIZE":3,"PARAMADDRESS":"4a00"})"),
             QStringLiteral("success:cleanMacroByAddr success!"));
    QCOMPARE(ask(QString(macro).replace("0x11,0x22,0x33", "0x44,0x55,0x66")), QStringLiteral("success:true"));
    QCOMPARE(ask(R"({"funcname":"readByAddr",)" + dev + R"("PARAMSIZE":3,"PARAMADDRESS":"4a00"})"),
             QStringLiteral("success:0x44,0x55,0x66"));
}

void TestDeviceCommands::readsThePadRefusesAreNeverData()
{
    NEED_LIBRARY();
    const QString dev = devFields();
    const QString at = R"("PARAMSIZE":3,"PARAMADDRESS":"4c00")";
    QCOMPARE(ask(R"({"funcname":"writeByAddr",)" + dev + at + R"(,"PARAMDATA":"0x0a,0x0b,0x0c"})"),
             QStringLiteral("success:writeByAddr success!"));
    int exitCode = -1;
    const QString told = padctl({"fail-reads", "5E1C7A92", "4"}, &exitCode);
    QVERIFY2(exitCode == 0, qPrintable(told));
    // A macro over a stretch that could not be read would overwrite whatever it holds.
    QCOMPARE(ask(R"({"funcname":"writeMacroByAddr",)" + dev + at + R"(,"PARAMDATA":"0x01,0x02,0x03"})"),
             QStringLiteral("failure:0:writeMacroByAddr failed!"));
    QCOMPARE(ask(R"({"funcname":"readByAddr",)" + dev + at + "}"), QStringLiteral("failure:0:readByAddr failed!"));
    QCOMPARE(ask(R"({"funcname":"isPropEmpty",)" + dev + at + "}"), QStringLiteral("failure:0:isPropEmpty failed!"));
    QCOMPARE(ask(R"({"funcname":"readDevicesProp",)" + dev + R"("PARAMSIZE":1,"PARAMID":7})"),
             QStringLiteral("failure:0:readDevicesProp failed!"));
    // Four reads failed; the pad answers again, and still holds what it held.
    QCOMPARE(ask(R"({"funcname":"readByAddr",)" + dev + at + "}"), QStringLiteral("success:0x0a,0x0b,0x0c"));
    QCOMPARE(padctl({"fail-reads", "5E1C7A92", "9"}, &exitCode), QStringLiteral("the next 9 reads of 5E1C7A92 will fail\n"));
    QCOMPARE(padctl({"fail-reads", "5E1C7A92", "0"}, &exitCode), QStringLiteral("reads of 5E1C7A92 succeed again\n"));
    QCOMPARE(ask(R"({"funcname":"isPropEmpty",)" + dev + at + "}"), QStringLiteral("success:false"));
}

void TestDeviceCommands::notifyHandsOverTypeAndData()
{
    NEED_LIBRARY();
    // Only the low 8 bits of each: type 258 sends 0x02.
    QCOMPARE(ask(R"({"funcname":"notifyDevice",)" + devFields() + R"("NotifyType":258,"NotifyData":3})"),
             QStringLiteral("success:notifyDevice success!"));
    const QString list = padctl({"notifications", "5E1C7A92"});
    QVERIFY2(list.contains(QLatin1String("0x0302"), Qt::CaseInsensitive), qPrintable(list));
}

QTEST_MAIN(TestDeviceCommands)
#include "tst_device_commands.moc"
