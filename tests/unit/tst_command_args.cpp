// The argument reading rules every page command relies on. Values are fed in as the page sends
// them, as JSON command texts, so the JSON-to-variant step is covered together with each rule.
#include "command_args.h"
#include "runtime_log.h"

#include <QtTest>

#include <climits>

namespace {

CommandArgs argsFrom(const QByteArray &json)
{
    CommandArgs args;
    if (!CommandArgs::parse(QString::fromUtf8(json), &args))
        qWarning("fixture is not a JSON object: %s", json.constData());
    return args;
}

// The value member of {"v": <json>}.
CommandArgs valueOf(const QByteArray &json)
{
    return argsFrom("{\"v\":" + json + "}");
}

} // namespace

class TestCommandArgs : public QObject {
    Q_OBJECT

private slots:
    void integer_data();
    void integer();
    void text_data();
    void text();
    void hexadecimal_data();
    void hexadecimal();
    void hexadecimalFromJsonNumber_data();
    void hexadecimalFromJsonNumber();
    void byteList_data();
    void byteList();
    void byteListReply_data();
    void byteListReply();
    void byteListRoundTripsEveryByte();
    void parse_data();
    void parse();
    void presenceIsCheckedInOrder_data();
    void presenceIsCheckedInOrder();
};

void TestCommandArgs::integer_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("expected");

    QTest::newRow("whole number") << QByteArray("16") << 16;
    QTest::newRow("half rounds up") << QByteArray("15.5") << 16;
    QTest::newRow("below half rounds down") << QByteArray("15.49") << 15;
    QTest::newRow("negative half away from zero") << QByteArray("-2.5") << -3;
    QTest::newRow("minus one half") << QByteArray("-0.5") << -1;
    QTest::newRow("plus one half") << QByteArray("0.5") << 1;
    QTest::newRow("decimal text") << QByteArray("\"16\"") << 16;
    QTest::newRow("negative decimal text") << QByteArray("\"-7\"") << -7;
    QTest::newRow("hex-looking text") << QByteArray("\"0x10\"") << 0;
    QTest::newRow("fractional text") << QByteArray("\"16.5\"") << 0;
    QTest::newRow("word") << QByteArray("\"sixteen\"") << 0;
    QTest::newRow("empty text") << QByteArray("\"\"") << 0;
    QTest::newRow("true") << QByteArray("true") << 1;
    QTest::newRow("false") << QByteArray("false") << 0;
    QTest::newRow("null") << QByteArray("null") << 0;
    QTest::newRow("array") << QByteArray("[16]") << 0;
    QTest::newRow("object") << QByteArray("{\"a\":16}") << 0;
}

void TestCommandArgs::integer()
{
    QFETCH(QByteArray, json);
    QFETCH(int, expected);
    QCOMPARE(valueOf(json).toInt(QStringLiteral("v")), expected);
}

void TestCommandArgs::text_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("expected");

    QTest::newRow("string") << QByteArray("\"1f00\"") << QStringLiteral("1f00");
    QTest::newRow("string keeps blanks") << QByteArray("\" a b \"") << QStringLiteral(" a b ");
    QTest::newRow("non-ASCII string") << QByteArray("\"\xc3\xbc\xe2\x82\xac\"") << QStringLiteral(u"\u00fc\u20ac");
    QTest::newRow("whole number") << QByteArray("4096") << QStringLiteral("4096");
    QTest::newRow("zero") << QByteArray("0") << QStringLiteral("0");
    QTest::newRow("negative number") << QByteArray("-3") << QStringLiteral("-3");
    // A JSON number arrives as a double; it must not come out as "1e+10" or "4096.0".
    QTest::newRow("large whole number") << QByteArray("10000000000") << QStringLiteral("10000000000");
    QTest::newRow("whole number written with a fraction") << QByteArray("4096.0") << QStringLiteral("4096");
    QTest::newRow("true") << QByteArray("true") << QStringLiteral("true");
    QTest::newRow("false") << QByteArray("false") << QStringLiteral("false");
}

void TestCommandArgs::text()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, expected);
    QCOMPARE(valueOf(json).toText(QStringLiteral("v")), expected);
}

void TestCommandArgs::hexadecimal_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<long>("expected");

    QTest::newRow("lower case") << "1f00" << 0x1f00L;
    QTest::newRow("0x prefix, capitals") << "0x1F00" << 0x1f00L;
    QTest::newRow("capitals") << "1F00" << 0x1f00L;
    QTest::newRow("0X prefix") << "0X1f00" << 0x1f00L;
    QTest::newRow("leading blanks and negative prefix") << " -0x10" << -16L;
    QTest::newRow("leading tab and plus") << "\t+ff" << 255L;
    QTest::newRow("stops at the first other character") << "12zz" << 0x12L;
    QTest::newRow("stops at a blank") << "12 34" << 0x12L;
    QTest::newRow("prefix alone") << "0x" << 0L;
    QTest::newRow("prefix without digits") << "0xg1" << 0L;
    QTest::newRow("no digits") << "zz" << 0L;
    QTest::newRow("empty") << "" << 0L;
    QTest::newRow("blank after sign") << "- 1" << 0L;
    QTest::newRow("two signs") << "--1" << 0L;
    QTest::newRow("sign after prefix") << "0x-1" << 0L;
    QTest::newRow("largest int") << "7FFFFFFF" << 2147483647L;
    QTest::newRow("just past the largest int") << "80000000" << 2147483647L;
    QTest::newRow("all ones clamps") << "FFFFFFFF" << 2147483647L;
    QTest::newRow("many digits clamp") << "1000000000000000000000001" << 2147483647L;
    QTest::newRow("smallest int") << "-80000000" << -2147483647L - 1;
    QTest::newRow("just past the smallest int") << "-80000001" << -2147483647L - 1;
    QTest::newRow("many digits clamp negative") << "-FFFFFFFFFFFFFFFFFFFF" << -2147483647L - 1;
}

void TestCommandArgs::hexadecimal()
{
    QFETCH(QString, text);
    QFETCH(long, expected);
    QCOMPARE(CommandArgs::hexOf(text), expected);
    // The same text as a command member reads the same.
    CommandArgs args(QVariantMap{{QStringLiteral("v"), text}});
    QCOMPARE(args.toHex(QStringLiteral("v")), expected);
}

void TestCommandArgs::hexadecimalFromJsonNumber_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<long>("expected");

    // A number is read through its decimal digits, as if they were hexadecimal.
    QTest::newRow("4096") << QByteArray("4096") << 0x4096L;
    QTest::newRow("7936") << QByteArray("7936") << 0x7936L;
    QTest::newRow("4096.0") << QByteArray("4096.0") << 0x4096L;
    QTest::newRow("negative") << QByteArray("-10") << -0x10L;
    QTest::newRow("true is not hexadecimal") << QByteArray("true") << 0L;
}

void TestCommandArgs::hexadecimalFromJsonNumber()
{
    QFETCH(QByteArray, json);
    QFETCH(long, expected);
    QCOMPARE(valueOf(json).toHex(QStringLiteral("v")), expected);
}

void TestCommandArgs::byteList_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("plain") << QByteArray("\"01,ff,2a\"") << 3 << QByteArray("\x01\xff\x2a", 3);
    QTest::newRow("prefixed and blanks") << QByteArray("\"0x10, 0X20\"") << 2 << QByteArray("\x10\x20", 2);
    QTest::newRow("empty item is a zero") << QByteArray("\"01,,03\"") << 3 << QByteArray("\x01\x00\x03", 3);
    QTest::newRow("trailing comma") << QByteArray("\"01,\"") << 2 << QByteArray("\x01\x00", 2);
    QTest::newRow("three digits keep the low byte") << QByteArray("\"101\"") << 1 << QByteArray("\x01", 1);
    QTest::newRow("negative keeps the low byte") << QByteArray("\"-1\"") << 1 << QByteArray("\xff", 1);
    QTest::newRow("clamped item keeps the low byte") << QByteArray("\"FFFFFFFF\"") << 1 << QByteArray("\xff", 1);
    QTest::newRow("not hexadecimal is a zero") << QByteArray("\"zz,05\"") << 2 << QByteArray("\x00\x05", 2);
    QTest::newRow("fewer items than size") << QByteArray("\"1\"") << 3 << QByteArray("\x01\x00\x00", 3);
    QTest::newRow("empty text") << QByteArray("\"\"") << 2 << QByteArray(2, '\0');
    QTest::newRow("more items than size") << QByteArray("\"1,2,3,4\"") << 2 << QByteArray("\x01\x02", 2);
    QTest::newRow("size zero") << QByteArray("\"1,2\"") << 0 << QByteArray();
    QTest::newRow("number member") << QByteArray("12") << 1 << QByteArray("\x12", 1);
}

void TestCommandArgs::byteList()
{
    QFETCH(QByteArray, json);
    QFETCH(int, size);
    QFETCH(QByteArray, expected);
    QCOMPARE(valueOf(json).toByteList(QStringLiteral("v"), size), expected);
}

void TestCommandArgs::byteListReply_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("three bytes") << QByteArray("\x01\xff\x2a", 3) << QStringLiteral("0x01,0xff,0x2a");
    QTest::newRow("none") << QByteArray() << QString();
    QTest::newRow("zero byte") << QByteArray(1, '\0') << QStringLiteral("0x00");
    QTest::newRow("letters are lower case, two digits") << QByteArray("\x0a\xb0", 2) << QStringLiteral("0x0a,0xb0");
    QTest::newRow("high bit") << QByteArray("\x80\x7f", 2) << QStringLiteral("0x80,0x7f");
}

void TestCommandArgs::byteListReply()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(CommandArgs::byteListReply(bytes), expected);
    QCOMPARE(CommandArgs::byteListReply(reinterpret_cast<const unsigned char *>(bytes.constData()), bytes.size()),
             expected);
}

void TestCommandArgs::byteListRoundTripsEveryByte()
{
    // What a read command replies, a write command must read back unchanged.
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    QCOMPARE(CommandArgs::byteListOf(CommandArgs::byteListReply(all), all.size()), all);
}

void TestCommandArgs::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("object") << R"({"funcname":"getDevicesList"})" << true;
    QTest::newRow("object with blanks") << R"( { "funcname" : "getDevicesList" } )" << true;
    QTest::newRow("empty object") << "{}" << true;
    QTest::newRow("array of an object") << R"([{"funcname":"getDevicesList"}])" << false;
    QTest::newRow("string") << R"("getDevicesList")" << false;
    QTest::newRow("number") << "42" << false;
    QTest::newRow("null") << "null" << false;
    QTest::newRow("empty text") << "" << false;
    QTest::newRow("not JSON") << "funcname=getDevicesList" << false;
    QTest::newRow("unterminated") << R"({"funcname":"getDevicesList")" << false;
    QTest::newRow("text after the object") << R"({"funcname":"getDevicesList"}x)" << false;
    QTest::newRow("single quotes") << "{'funcname':'getDevicesList'}" << false;
}

void TestCommandArgs::parse()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);

    CommandArgs args(QVariantMap{{QStringLiteral("stale"), 1}});
    QCOMPARE(CommandArgs::parse(text, &args), accepted);
    if (accepted)
        QVERIFY(!args.has(QStringLiteral("stale")));
}

void TestCommandArgs::presenceIsCheckedInOrder_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("firstMissing");

    const QByteArray all = R"({"HardwareID":"1","DevicePath":"p","PARAMSIZE":16,"PARAMADDRESS":"1f00"})";
    QTest::newRow("all present") << all << QString();
    QTest::newRow("null counts as present")
        << QByteArray(R"({"HardwareID":null,"DevicePath":"","PARAMSIZE":0,"PARAMADDRESS":false})") << QString();
    QTest::newRow("first missing") << QByteArray(R"({"DevicePath":"p","PARAMSIZE":16,"PARAMADDRESS":"1f00"})")
                                   << QStringLiteral("HardwareID");
    QTest::newRow("two missing, first listed wins")
        << QByteArray(R"({"HardwareID":"1","PARAMADDRESS":"1f00"})") << QStringLiteral("DevicePath");
    QTest::newRow("last missing") << QByteArray(R"({"HardwareID":"1","DevicePath":"p","PARAMSIZE":16})")
                                  << QStringLiteral("PARAMADDRESS");
    QTest::newRow("names are case-sensitive")
        << QByteArray(R"({"HardwareID":"1","DevicePath":"p","ParamSize":16,"PARAMADDRESS":"1f00"})")
        << QStringLiteral("PARAMSIZE");
}

void TestCommandArgs::presenceIsCheckedInOrder()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, firstMissing);

    QVariantMap map = argsFrom(json).map();
    map.insert(QStringLiteral("funcname"), QStringLiteral("readByAddr"));
    const CommandArgs args(map);
    QCOMPARE(args.missing({"HardwareID", "DevicePath", "PARAMSIZE", "PARAMADDRESS"}), firstMissing);

    // The refusal stays unanswered, but the log names the command and what it lacked.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString logPath = dir.filePath(QStringLiteral("web.log"));
    cefLogConfigure(logPath, LOGSEVERITY_INFO);
    QCOMPARE(args.require({"HardwareID", "DevicePath", "PARAMSIZE", "PARAMADDRESS"}), firstMissing.isEmpty());
    cefLogConfigure(QString(), LOGSEVERITY_DISABLE);
    QFile log(logPath);
    const QString logged = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    if (firstMissing.isEmpty())
        QVERIFY2(logged.isEmpty(), qPrintable(logged));
    else
        QVERIFY2(logged.contains(QStringLiteral("readByAddr: no \"%1\"").arg(firstMissing)), qPrintable(logged));
}

QTEST_GUILESS_MAIN(TestCommandArgs)
#include "tst_command_args.moc"
