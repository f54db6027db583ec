// Reading the library's device table from crafted buffers: counts the library gets wrong, texts
// without terminators, and what a refresh does to the application's pads.
#include "device_table.h"

#include <padio.h>

#include <QtTest>

#include <cstring>

namespace {

struct Record {
    QByteArray deviceId, version, sn, mask;
    QString devicePath, hardwareId;
};

void putNarrow(QByteArray &table, int at, const QByteArray &text, int size)
{
    std::memcpy(table.data() + at, text.constData(), size_t(qMin(text.size(), size)));
}

void putWide(QByteArray &table, int at, const QString &text, int size)
{
    for (int u = 0; u < text.size() && 2 * u + 1 < size; ++u) {
        table[at + 2 * u] = char(text.at(u).unicode() & 0xFF);
        table[at + 2 * u + 1] = char(text.at(u).unicode() >> 8);
    }
}

QByteArray makeTable(int claimedCount, const QVector<Record> &records, int size = PADIO_TABLE_SIZE)
{
    QByteArray table(size, '\0');
    table[0] = char(claimedCount & 0xFF);
    table[1] = char(claimedCount >> 8);
    for (int i = 0; i < records.size(); ++i) {
        const int base = 2 + i * PADIO_RECORD_SIZE;
        if (base + PADIO_RECORD_SIZE > size)
            break;
        const Record &r = records.at(i);
        putNarrow(table, base + PADIO_REC_DEVICE_ID, r.deviceId, PADIO_REC_DEVICE_ID_SIZE);
        putNarrow(table, base + PADIO_REC_VERSION, r.version, PADIO_REC_VERSION_SIZE);
        putNarrow(table, base + PADIO_REC_SN, r.sn, PADIO_REC_SN_SIZE);
        putNarrow(table, base + PADIO_REC_MASK, r.mask, PADIO_REC_MASK_SIZE);
        putWide(table, base + PADIO_REC_DEVICE_PATH, r.devicePath, PADIO_REC_DEVICE_PATH_SIZE);
        putWide(table, base + PADIO_REC_HARDWARE_ID, r.hardwareId, PADIO_REC_HARDWARE_ID_SIZE);
    }
    return table;
}

Record pad(const QByteArray &id)
{
    return {id, "1.2.3", "SN" + id, "01", QStringLiteral("\\\\?\\hid#") + QString::fromLatin1(id),
            QStringLiteral("HID\\Vid_5e1c&Pid_") + QString::fromLatin1(id)};
}

} // namespace

class TestDeviceTable : public QObject {
    Q_OBJECT

private slots:
    void recordCount_data();
    void recordCount();
    void fieldsOfAFullRecord();
    void unterminatedFieldsEndAtTheirFieldEnd();
    void deviceIdStartingWithZeroIsEmpty();
    void refreshKeepsLaterDuplicateAndCountsBoth();
    void refreshReplacesPadsButNeverForgetsSightings();
};

void TestDeviceTable::recordCount_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<int>("expected");

    QVector<Record> many;
    for (int i = 0; i < 21; ++i)
        many << pad(QByteArray::number(i));
    QTest::newRow("empty table") << makeTable(0, {}) << 0;
    QTest::newRow("two") << makeTable(2, {pad("A"), pad("B")}) << 2;
    QTest::newRow("count above twenty is cut to the table") << makeTable(21, many) << 20;
    QTest::newRow("count 0xffff") << makeTable(0xFFFF, many) << 20;
    QTest::newRow("count is little-endian") << makeTable(0x0100, {}) << 20;
    QTest::newRow("short buffer holds fewer records") << makeTable(5, many, 2 + 3 * PADIO_RECORD_SIZE + 100) << 3;
    QTest::newRow("no room for the count") << QByteArray(1, '\5') << 0;
}

void TestDeviceTable::recordCount()
{
    QFETCH(QByteArray, table);
    QFETCH(int, expected);
    QCOMPARE(device_table::recordCount(table), expected);
    // Every counted record can be read without leaving the buffer (the sanitizer build checks).
    for (int i = 0; i < expected; ++i)
        device_table::record(table, i);
}

void TestDeviceTable::fieldsOfAFullRecord()
{
    Record r = pad("5E1C7A92");
    r.deviceId = "Ünï-5E1C"; // UTF-8 on the wire
    r.hardwareId = QStringLiteral("HID\\Vid_5e1c&Pid_7a92&MI_00 ✓");
    const QByteArray table = makeTable(2, {pad("first"), r});
    const DeviceInfo info = device_table::record(table, 1);
    QCOMPARE(info.DeviceID, QStringLiteral("Ünï-5E1C"));
    QCOMPARE(info.Version, QStringLiteral("1.2.3"));
    QCOMPARE(info.SN, QStringLiteral("SN5E1C7A92"));
    QCOMPARE(info.MASK, QStringLiteral("01"));
    QCOMPARE(info.DevicePath, QStringLiteral("\\\\?\\hid#5E1C7A92"));
    QCOMPARE(info.HardwareID, r.hardwareId);
    QCOMPARE(device_table::deviceIdBytes(table, 1), QByteArray("Ünï-5E1C"));
}

void TestDeviceTable::unterminatedFieldsEndAtTheirFieldEnd()
{
    // Every byte of every field set: no terminator anywhere, and the next field's bytes follow
    // right behind. A reader that looks for the zero runs into them.
    Record r;
    r.deviceId = QByteArray(PADIO_REC_DEVICE_ID_SIZE + 10, 'D');
    r.version = QByteArray(PADIO_REC_VERSION_SIZE, 'V');
    r.sn = QByteArray(PADIO_REC_SN_SIZE, 'S');
    r.mask = "MMM";
    r.devicePath = QString(PADIO_REC_DEVICE_PATH_SIZE / 2, QLatin1Char('p'));
    r.hardwareId = QString(PADIO_REC_HARDWARE_ID_SIZE / 2, QChar(0x4E2D));
    // One record only, and it ends the buffer: reading past the field would leave the buffer.
    const QByteArray table = makeTable(1, {r}, 2 + PADIO_RECORD_SIZE);

    const DeviceInfo info = device_table::record(table, 0);
    QCOMPARE(info.DeviceID, QString(PADIO_REC_DEVICE_ID_SIZE, QLatin1Char('D')));
    QCOMPARE(info.Version, QString(PADIO_REC_VERSION_SIZE, QLatin1Char('V')));
    QCOMPARE(info.SN, QString(PADIO_REC_SN_SIZE, QLatin1Char('S')));
    QCOMPARE(info.MASK, QStringLiteral("MM"));
    QCOMPARE(info.DevicePath, QString(255, QLatin1Char('p')));
    QCOMPARE(info.HardwareID, QString(255, QChar(0x4E2D)));
}

void TestDeviceTable::deviceIdStartingWithZeroIsEmpty()
{
    Record r = pad("");
    QByteArray table = makeTable(1, {r});
    // Text after the leading zero is not part of the id.
    std::memcpy(table.data() + 2 + 1, "HIDDEN", 6);
    QCOMPARE(device_table::record(table, 0).DeviceID, QString());
    QCOMPARE(device_table::deviceIdBytes(table, 0), QByteArray());
    QCOMPARE(device_table::record(table, 0).HardwareID, r.hardwareId);
}

void TestDeviceTable::refreshKeepsLaterDuplicateAndCountsBoth()
{
    Record first = pad("DUP");
    Record second = pad("DUP");
    second.sn = "second";
    DeviceMap map;
    DeviceSightings sightings;
    device_table::apply(makeTable(3, {first, pad("B"), second}), &map, &sightings);
    QCOMPARE(map.keys(), QStringList({"B", "DUP"}));
    QCOMPARE(map.value("DUP").SN, QStringLiteral("second"));
    QCOMPARE(sightings.value("DUP"), 2);
    QCOMPARE(sightings.value("B"), 1);
}

void TestDeviceTable::refreshReplacesPadsButNeverForgetsSightings()
{
    DeviceMap map;
    DeviceSightings sightings;
    device_table::apply(makeTable(2, {pad("A"), pad("B")}), &map, &sightings);
    device_table::apply(makeTable(1, {pad("B")}), &map, &sightings);
    QCOMPARE(map.keys(), QStringList({"B"}));
    QCOMPARE(sightings.value("A"), 1);
    QCOMPARE(sightings.value("B"), 2);
    device_table::apply(makeTable(0, {}), &map, &sightings);
    QVERIFY(map.isEmpty());
    QCOMPARE(sightings.size(), 2);
}

QTEST_APPLESS_MAIN(TestDeviceTable)
#include "tst_device_table.moc"
