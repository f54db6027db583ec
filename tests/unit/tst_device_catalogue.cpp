// Product information looked up in the settings text by a pad's DeviceID bytes.
#include "device_catalogue.h"

#include <QtTest>

namespace {

const char kCatalogue[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<root>
	<client language="en" />
	<conf deviceId="5E1C7A92" name="first">
		<info name="other" productType="wrong" />
		<info name="产品信息" productType="gamepad" productName="PX-ORB42" productCN="PX-ORB42-01" description="wired" device="PX" />
		<info name="产品信息" productType="second record" />
	</conf>
	<conf deviceId="5E1C7A92" name="duplicate">
		<info name="产品信息" productType="duplicate entry" />
	</conf>
	<anything deviceId="NODESC">
		<info name="产品信息" productType="t" productName="n" productCN="c" device="d" />
	</anything>
	<conf deviceId="NOINFO"><info name="other" productType="x" /></conf>
	<conf deviceId="设备"><info name="产品信息" productName="non-ASCII id" /></conf>
</root>
)";

} // namespace

class TestDeviceCatalogue : public QObject {
    Q_OBJECT

private slots:
    void product_data();
    void product();
    void unparsableTextLoadsNothing();
};

void TestDeviceCatalogue::product_data()
{
    QTest::addColumn<QByteArray>("deviceId");
    QTest::addColumn<QStringList>("expected"); // type, name, CN, description, device

    QTest::newRow("first entry, first product record") << QByteArray("5E1C7A92")
                                                       << QStringList{"gamepad", "PX-ORB42", "PX-ORB42-01", "wired", "PX"};
    QTest::newRow("letter case differs") << QByteArray("5e1c7a92") << QStringList{"", "", "", "", ""};
    QTest::newRow("no trimming") << QByteArray(" 5E1C7A92") << QStringList{"", "", "", "", ""};
    QTest::newRow("element name not examined, missing attribute empty")
        << QByteArray("NODESC") << QStringList{"t", "n", "c", "", "d"};
    QTest::newRow("entry without product record") << QByteArray("NOINFO") << QStringList{"", "", "", "", ""};
    QTest::newRow("no entry") << QByteArray("FFFF") << QStringList{"", "", "", "", ""};
    QTest::newRow("empty id matches nothing") << QByteArray() << QStringList{"", "", "", "", ""};
    QTest::newRow("UTF-8 id compared byte for byte")
        << QString::fromUtf8("设备").toUtf8() << QStringList{"", "non-ASCII id", "", "", ""};
}

void TestDeviceCatalogue::product()
{
    QFETCH(QByteArray, deviceId);
    QFETCH(QStringList, expected);
    DeviceCatalogue catalogue;
    QVERIFY(catalogue.load(QString::fromUtf8(kCatalogue)));
    const ProductInfo info = catalogue.product(deviceId);
    QCOMPARE(QStringList({info.productType, info.productName, info.productCN, info.description, info.device}),
             expected);
}

void TestDeviceCatalogue::unparsableTextLoadsNothing()
{
    DeviceCatalogue catalogue;
    QVERIFY(!catalogue.load(QStringLiteral("<root><conf deviceId=\"A\">")));
    QVERIFY(!catalogue.load(QString()));
    QCOMPARE(catalogue.product("5E1C7A92").productType, QString());
}

QTEST_APPLESS_MAIN(TestDeviceCatalogue)
#include "tst_device_catalogue.moc"
