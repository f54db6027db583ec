// The virtual pad library, loaded as the program loads it. Every test gets a fresh state folder and
// a fresh load of the library, so each one also covers start-up from files.
#include "padio_test_support.h"

#include <QtTest>

namespace {

const QString kPadHardwareId = QStringLiteral("HID\\Vid_5e1c&Pid_7a92&MI_00");
const QString kLoaderHardwareId = QStringLiteral("HID\\Vid_5e1c&Pid_7a93");
const padio_char kEmpty[] = {0};

QByteArray field(const uint8_t *record, int offset, int size)
{
    return QByteArray(reinterpret_cast<const char *>(record + offset), size);
}

QByteArray padded(const QByteArray &text, int size)
{
    return text + QByteArray(size - text.size(), '\0');
}

QByteArray utf16Field(const QString &text, int size)
{
    QByteArray bytes;
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return padded(bytes, size);
}

} // namespace

class TestPadio : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstUseCreatesOnePadWithExactRecord();
    void tableNeverExceedsCallerSizeOrTwentyRecords_data();
    void tableNeverExceedsCallerSizeOrTwentyRecords();
    void memoryAndPropertiesSurviveReload();
    void sizesAreClamped_data();
    void sizesAreClamped();
    void callsNamingNoPadFail();
    void emptyPropertyReadsBackAsNothing();
    void plugAndUnplugRaiseFiveEventsEachOnLibraryThread();
    void dataReachesOnlyTheRegisteredPad();
    void notifyIsRecorded();
    void firmwareLoaderFlow();
    void resetRefusals();
    void unloadDuringRestartKeepsLoader();

private:
    QByteArray devicesTable(int size = PADIO_TABLE_SIZE, char fill = '\0');
    bool waitForEvents(int count);

    QScopedPointer<QTemporaryDir> m_home;
    QLibrary m_library;
    PadioFunctions f;
};

void TestPadio::init()
{
    m_home.reset(new QTemporaryDir);
    QVERIFY(m_home->isValid());
    qputenv("PADIO_HOME", QFile::encodeName(m_home->path()));
    qputenv("PADIO_RESTART_MS", "100");
    QString missing;
    QVERIFY2(loadPadio(&m_library, &f, &missing), qPrintable(missing));
    callbackLog().reset(f.dcDevices);
}

void TestPadio::cleanup()
{
    if (m_library.isLoaded()) {
        padio_device_event_fn noEvents = nullptr;
        padio_device_data_fn noData = nullptr;
        f.dcOnDeviceEvent(&noEvents);
        f.dconDeviceData(wide(kPadHardwareId), kEmpty, PADIO_MODEL, &noData);
        // The thread must stop and the library really go, or the next test would see stale state.
        QVERIFY(m_library.unload());
    }
    f = PadioFunctions();
}

QByteArray TestPadio::devicesTable(int size, char fill)
{
    QByteArray table(size + 64, fill);
    padio_filter filter {};
    filter.words[0] = 0xFFA00001;
    filter.words[1] = 0xFFAA0001;
    f.dcDevices(filter, reinterpret_cast<uint8_t *>(table.data()), size);
    return table;
}

bool TestPadio::waitForEvents(int count)
{
    (void)QTest::qWaitFor([count] { return callbackLog().eventCount() >= count; }, 5000);
    // A negative check, so bounded: one event too many, raised with the ones awaited, would show
    // up by now.
    QTest::qWait(50);
    if (callbackLog().eventCount() != count)
        qWarning("expected %d device events, got %d", count, callbackLog().eventCount());
    return callbackLog().eventCount() == count;
}

void TestPadio::firstUseCreatesOnePadWithExactRecord()
{
    const QByteArray table = devicesTable(PADIO_TABLE_SIZE, char(0xEE));
    QCOMPARE(uint8_t(table[0]), uint8_t(1));
    QCOMPARE(uint8_t(table[1]), uint8_t(0));
    const uint8_t *record = reinterpret_cast<const uint8_t *>(table.constData()) + 2;

    QCOMPARE(field(record, PADIO_REC_DEVICE_ID, 40), padded("5E1C7A92", 40));
    QCOMPARE(field(record, PADIO_REC_VERSION, 17), padded("1.0.3", 17));
    const QByteArray sn = field(record, PADIO_REC_SN, 14);
    QVERIFY(sn.startsWith("PX42"));
    QVERIFY(sn.endsWith('\0'));
    QCOMPARE(field(record, PADIO_REC_MASK, 2), QByteArray("01"));
    QCOMPARE(field(record, 73, 1012), QByteArray(1012, '\0'));
    QCOMPARE(field(record, PADIO_REC_HARDWARE_ID, 510), utf16Field(kPadHardwareId, 510));
    const QByteArray path = field(record, PADIO_REC_DEVICE_PATH, 510);
    QVERIFY(path.startsWith(utf16Field(QStringLiteral("\\\\?\\hid#vid_5e1c&pid_7a92&mi_00#"), 62).left(62)));
    QVERIFY(path.endsWith(QByteArray(2, '\0')));

    // The unused records and the bytes past the caller's size stay as the caller left them.
    QCOMPARE(table.mid(2 + PADIO_RECORD_SIZE), QByteArray(table.size() - 2 - PADIO_RECORD_SIZE, char(0xEE)));
    QVERIFY(QFile::exists(m_home->filePath("devices")));
    QCOMPARE(f.dcDeviceExist(wide(kPadHardwareId)), 0);
    QCOMPARE(f.dcDeviceExist(wide(kPadHardwareId.toLower())), 0); // Windows ids ignore case
}

void TestPadio::tableNeverExceedsCallerSizeOrTwentyRecords_data()
{
    QTest::addColumn<int>("pads");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("expectedCount");

    QTest::newRow("22 pads on file, full table") << 22 << int(PADIO_TABLE_SIZE) << 20;
    QTest::newRow("room for one record") << 3 << 2 + PADIO_RECORD_SIZE << 1;
    QTest::newRow("one byte short of a record") << 3 << 2 + PADIO_RECORD_SIZE - 1 << 0;
    QTest::newRow("count only") << 3 << 2 << 0;
}

void TestPadio::tableNeverExceedsCallerSizeOrTwentyRecords()
{
    QFETCH(int, pads);
    QFETCH(int, size);
    QFETCH(int, expectedCount);

    // A hand-made device list (the library refuses to plug more than 20 itself); read on next load.
    QVERIFY(m_library.unload());
    QFile list(m_home->filePath("devices"));
    QVERIFY(list.open(QIODevice::WriteOnly));
    for (int i = 0; i < pads; ++i)
        list.write(QStringLiteral("P%1\t1.0\tSN%1\t01\tpad\t%2&P%1\tpath%1\n").arg(i).arg(kPadHardwareId).toUtf8());
    list.close();
    QString missing;
    QVERIFY2(loadPadio(&m_library, &f, &missing), qPrintable(missing));

    const QByteArray table = devicesTable(size, char(0xEE));
    QCOMPARE(uint8_t(table[0]) | uint8_t(table[1]) << 8, expectedCount);
    const int written = 2 + expectedCount * PADIO_RECORD_SIZE;
    QCOMPARE(table.mid(written), QByteArray(table.size() - written, char(0xEE)));
    if (expectedCount > 0)
        QCOMPARE(table.mid(2, 3), QByteArray("P0\0", 3));
}

void TestPadio::memoryAndPropertiesSurviveReload()
{
    const QByteArray macro = QByteArray::fromHex("0102030405ff");
    QCOMPARE(f.dcWrite(wide(kPadHardwareId), kEmpty, PADIO_MODEL, reinterpret_cast<const uint8_t *>(macro.data()),
                       macro.size(), 0x1f00),
             0);
    const QByteArray value = QByteArray::fromHex("1020");
    QCOMPARE(f.dcWriteProp(wide(kPadHardwareId), kEmpty, PADIO_MODEL,
                           reinterpret_cast<const uint8_t *>(value.data()), value.size(), 7),
             0);

    // Unloaded for real: a pad plugged meanwhile by padctl (on the files) is there after the reload.
    QVERIFY(m_library.unload());
    QCOMPARE(padctl({"plug", "--id", "LATER"}).exitCode, 0);
    QString missing;
    QVERIFY2(loadPadio(&m_library, &f, &missing), qPrintable(missing));
    QCOMPARE(f.dcDeviceExist(wide(kPadHardwareId + "&LATER")), 0);

    QByteArray buffer(PADIO_BUFFER_SIZE, '\0');
    f.dcRead(wide(kPadHardwareId), kEmpty, PADIO_MODEL, reinterpret_cast<uint8_t *>(buffer.data()), 8, 0x1f00);
    QCOMPARE(buffer.left(8), macro + QByteArray(2, '\0'));
    buffer.fill('\0');
    f.dcReadProp(wide(kPadHardwareId), kEmpty, PADIO_MODEL, reinterpret_cast<uint8_t *>(buffer.data()), 4, 7);
    QCOMPARE(buffer.left(4), value + QByteArray(2, '\0'));
    // Another pad's memory is its own.
    buffer.fill('\0');
    f.dcRead(wide(kPadHardwareId + "&LATER"), kEmpty, PADIO_MODEL, reinterpret_cast<uint8_t *>(buffer.data()), 8,
             0x1f00);
    QCOMPARE(buffer, QByteArray(PADIO_BUFFER_SIZE, '\0'));
}

void TestPadio::sizesAreClamped_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("expectedResult");
    QTest::addColumn<int>("expectedTouched"); // bytes of the caller's buffer the library may change

    QTest::newRow("read above buffer size") << "read" << 4096 << 0 << 0 << 2048;
    QTest::newRow("read last bytes of memory") << "read" << 16 << 65536 - 16 << 0 << 16;
    QTest::newRow("read past memory end") << "read" << 2 << 65535 << 1 << 0;
    QTest::newRow("read negative size") << "read" << -1 << 0 << 1 << 0;
    QTest::newRow("read negative address") << "read" << 4 << -4 << 1 << 0;
    QTest::newRow("property read above buffer size") << "readProp" << 5000 << 3 << 0 << 2048;
    // A write the buffer cannot hold fails whole: cut, it would lose its end and still succeed.
    QTest::newRow("write above buffer size") << "write" << 2049 << 0x100 << 1 << 0;
    QTest::newRow("write of the whole buffer") << "write" << 2048 << 0x100 << 0 << 2048;
    QTest::newRow("write of nothing") << "write" << 0 << 0x100 << 0 << 0;
    QTest::newRow("write past memory end") << "write" << 4 << 65534 << 1 << 0;
}

void TestPadio::sizesAreClamped()
{
    QFETCH(QString, call);
    QFETCH(int, size);
    QFETCH(int, address);
    QFETCH(int, expectedResult);
    QFETCH(int, expectedTouched);

    // Memory and the property are all 0x5A, the caller's buffer 0xEE beyond what may be changed.
    const QByteArray pattern(PADIO_BUFFER_SIZE, char(0x5A));
    const uint8_t *bytes = reinterpret_cast<const uint8_t *>(pattern.constData());
    for (int at = 0; at < 65536; at += PADIO_BUFFER_SIZE)
        QCOMPARE(f.dcWrite(wide(kPadHardwareId), kEmpty, PADIO_MODEL, bytes, PADIO_BUFFER_SIZE, at), 0);
    QCOMPARE(f.dcWriteProp(wide(kPadHardwareId), kEmpty, PADIO_MODEL, bytes, PADIO_BUFFER_SIZE, 3), 0);

    QByteArray buffer(8192, char(0xEE));
    uint8_t *data = reinterpret_cast<uint8_t *>(buffer.data());
    if (call == "read") {
        QCOMPARE(f.dcRead(wide(kPadHardwareId), kEmpty, PADIO_MODEL, data, size, address), expectedResult);
        QCOMPARE(buffer.left(expectedTouched), QByteArray(expectedTouched, char(0x5A)));
    } else if (call == "readProp") {
        QCOMPARE(f.dcReadProp(wide(kPadHardwareId), kEmpty, PADIO_MODEL, data, size, address), expectedResult);
        QCOMPARE(buffer.left(expectedTouched), QByteArray(expectedTouched, char(0x5A)));
    } else {
        buffer.fill(char(0x11));
        QCOMPARE(f.dcWrite(wide(kPadHardwareId), kEmpty, PADIO_MODEL, data, size, address), expectedResult);
        // Read back around the stretch: exactly expectedTouched bytes changed in the pad.
        QByteArray after(PADIO_BUFFER_SIZE, '\0');
        const int from = qMax(0, qMin(address, 65536 - PADIO_BUFFER_SIZE));
        f.dcRead(wide(kPadHardwareId), kEmpty, PADIO_MODEL, reinterpret_cast<uint8_t *>(after.data()),
                 PADIO_BUFFER_SIZE, from);
        QCOMPARE(after.count(char(0x11)), expectedTouched);
        buffer.fill(char(0xEE));
    }
    QCOMPARE(buffer.mid(expectedTouched), QByteArray(buffer.size() - expectedTouched, char(0xEE)));
}

void TestPadio::emptyPropertyReadsBackAsNothing()
{
    // An empty value has no bytes to point at; reading it must not hand that to a copy. Run under
    // the sanitizers, which see the null pointer even where nothing is copied.
    const uint8_t none = 0;
    QCOMPARE(f.dcWriteProp(wide(kPadHardwareId), kEmpty, PADIO_MODEL, &none, 0, 5), 0);
    QByteArray buffer(8, char(0xEE));
    QCOMPARE(f.dcReadProp(wide(kPadHardwareId), kEmpty, PADIO_MODEL, reinterpret_cast<uint8_t *>(buffer.data()), 4, 5),
             0);
    QCOMPARE(buffer, QByteArray(8, char(0xEE)));
    // The entry is kept on disk: a reloaded library reads it the same way.
    QVERIFY(m_library.unload());
    QString missing;
    QVERIFY2(loadPadio(&m_library, &f, &missing), qPrintable(missing));
    QCOMPARE(f.dcReadProp(wide(kPadHardwareId), kEmpty, PADIO_MODEL, reinterpret_cast<uint8_t *>(buffer.data()), 4, 5),
             0);
    QCOMPARE(buffer, QByteArray(8, char(0xEE)));
}

void TestPadio::callsNamingNoPadFail()
{
    uint8_t buffer[PADIO_BUFFER_SIZE] = {};
    uint8_t status = 0xEE;
    const QString unknown = QStringLiteral("HID\\Vid_0000&Pid_0000");
    QVERIFY(f.dcDeviceExist(wide(unknown)) != 0);
    QVERIFY(f.dcWrite(wide(unknown), kEmpty, PADIO_MODEL, buffer, 4, 0) != 0);
    QVERIFY(f.dcWriteProp(wide(unknown), kEmpty, PADIO_MODEL, buffer, 4, 1) != 0);
    QVERIFY(f.dcNotify(wide(unknown), kEmpty, PADIO_MODEL, 0x0302, &status, 0) != 0);
    QVERIFY(f.dcDeviceExist(nullptr) != 0);
    // The right pad with another model constant is refused too.
    QVERIFY(f.dcWrite(wide(kPadHardwareId), kEmpty, PADIO_MODEL + 1, buffer, 4, 0) != 0);
    QVERIFY(f.dcNotify(wide(kPadHardwareId), kEmpty, PADIO_MODEL + 1, 0x0302, &status, 0) != 0);
    QCOMPARE(status, uint8_t(0xEE));
    // No loader while the pad runs normally.
    QVERIFY(f.dcDeviceExist(wide(kLoaderHardwareId)) != 0);
    QVERIFY(f.dcEraseRom(wide(kLoaderHardwareId), kEmpty, PADIO_MODEL) != 0);
    QVERIFY(f.dcEraseRom(wide(kPadHardwareId), kEmpty, PADIO_MODEL) != 0);
}

void TestPadio::plugAndUnplugRaiseFiveEventsEachOnLibraryThread()
{
    padio_device_event_fn onEvent = recordEvent;
    QCOMPARE(f.dcOnDeviceEvent(&onEvent), 0);

    const PadctlResult plugged = padctl({"plug", "--id", "SECOND", "--sn", "SN-2", "--version", "2.0", "--mask", "02"});
    QCOMPARE(plugged.exitCode, 0);
    QVERIFY(plugged.out.contains("SECOND"));
    QVERIFY(waitForEvents(5));
    {
        QMutexLocker lock(&callbackLog().mutex);
        for (const CallbackLog::Event &event : callbackLog().events) {
            QCOMPARE(event.code, 0x8000u);
            QVERIFY(!event.onCallerThread);
            // The table is already current when the event comes, and asking for it from inside works.
            QCOMPARE(event.devicesSeen, 2);
        }
        callbackLog().events.clear();
    }

    QCOMPARE(padctl({"unplug", "SECOND"}).exitCode, 0);
    QVERIFY(waitForEvents(5));
    QMutexLocker lock(&callbackLog().mutex);
    for (const CallbackLog::Event &event : callbackLog().events) {
        QCOMPARE(event.code, 0x8004u);
        QVERIFY(!event.onCallerThread);
        QCOMPARE(event.devicesSeen, 1);
    }
}

void TestPadio::dataReachesOnlyTheRegisteredPad()
{
    QCOMPARE(padctl({"plug", "--id", "OTHER"}).exitCode, 0);
    padio_device_data_fn onData = recordReport;
    QCOMPARE(f.dconDeviceData(wide(kPadHardwareId), kEmpty, PADIO_MODEL, &onData), 0);

    PadctlResult sent = padctl({"data", "5E1C7A92", "0001020304050607"});
    QCOMPARE(sent.exitCode, 0);
    QCOMPARE(sent.err, QString());
    sent = padctl({"data", "5E1C7A92", "FFFFFFFFFFFFFFFF"});
    QCOMPARE(sent.exitCode, 0);
    // Another pad's report has no listener: sent, but nobody gets it.
    sent = padctl({"data", "OTHER", "0101010101010101"});
    QCOMPARE(sent.exitCode, 0);
    QVERIFY(sent.err.contains("no data callback"));
    const PadctlResult unknown = padctl({"data", "NOPE", "0101010101010101"});
    QCOMPARE(unknown.exitCode, 1);
    QVERIFY(unknown.err.contains("no pad with the id NOPE"));

    QTRY_COMPARE(callbackLog().reportCount(), 2);
    QMutexLocker lock(&callbackLog().mutex);
    QCOMPARE(callbackLog().reports[0], QByteArray::fromHex("0001020304050607"));
    QCOMPARE(callbackLog().reports[1], QByteArray(8, char(0xFF)));
    QVERIFY(!callbackLog().reportOnCallerThread);
}

void TestPadio::notifyIsRecorded()
{
    uint8_t status = 0xEE;
    QCOMPARE(f.dcNotify(wide(kPadHardwareId), kEmpty, PADIO_MODEL, 0x0302, &status, 0), 0);
    QCOMPARE(status, uint8_t(0));
    // Only 16 bits are the notification.
    QCOMPARE(f.dcNotify(wide(kPadHardwareId), kEmpty, PADIO_MODEL, 0x7FFF0104, &status, 0), 0);
    const PadctlResult listed = padctl({"notifications", "5E1C7A92"});
    QCOMPARE(listed.exitCode, 0);
    const QStringList lines = listed.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].contains("0x0302  type 2 data 3"), qPrintable(lines[0]));
    QVERIFY2(lines[1].contains("0x0104  type 4 data 1"), qPrintable(lines[1]));
    QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT").match(lines[0]).hasMatch());
}

void TestPadio::firmwareLoaderFlow()
{
    padio_device_event_fn onEvent = recordEvent;
    QCOMPARE(f.dcOnDeviceEvent(&onEvent), 0);
    const padio_char *loader = wide(kLoaderHardwareId);

    uint8_t status = 0xEE;
    QCOMPARE(f.dcReset(wide(kPadHardwareId), kEmpty, PADIO_MODEL, 1, &status, 0), 0);
    QVERIFY(f.dcDeviceExist(wide(kPadHardwareId)) != 0);
    QVERIFY(waitForEvents(5)); // the pad went
    QTRY_COMPARE(f.dcDeviceExist(loader), 0);
    QVERIFY(waitForEvents(10)); // the loader came
    {
        QMutexLocker lock(&callbackLog().mutex);
        QCOMPARE(callbackLog().events[4].code, 0x8004u);
        QCOMPARE(callbackLog().events[5].code, 0x8000u);
        QCOMPARE(callbackLog().events[9].devicesSeen, 0); // the loader is not a pad to list
    }

    // The payload as the program sends it: 2000-byte blocks, a length that is a multiple of 2000
    // ending in one empty block.
    QByteArray payload = "PXFW" + padded("2.1.0", 17);
    while (payload.size() < 4000)
        payload.append(char(payload.size() * 7));
    const uint8_t *bytes = reinterpret_cast<const uint8_t *>(payload.constData());
    QVERIFY(f.dcBornRom(loader, kEmpty, PADIO_MODEL, bytes, 2000, 0) != 0); // not erased yet
    QCOMPARE(f.dcEraseRom(loader, kEmpty, PADIO_MODEL), 0);
    QVERIFY(f.dcBornRom(loader, kEmpty, PADIO_MODEL, bytes, 2001, 0) != 0); // block too long
    QVERIFY(f.dcBornRom(loader, kEmpty, PADIO_MODEL, bytes, 2000, 65849 - 1999) != 0); // past the image
    for (int offset = 0; offset <= payload.size(); offset += 2000) {
        const int length = qMin(2000, payload.size() - offset);
        QCOMPARE(f.dcBornRom(loader, kEmpty, PADIO_MODEL, bytes + offset, length, offset), 0);
    }

    const uint32_t check = bitwiseCrc32(payload);
    QVERIFY(f.dcCheckRom(loader, kEmpty, PADIO_MODEL, uint32_t(payload.size()), check ^ 1) != 0);
    QVERIFY(f.dcFinishUpdateRom(loader, kEmpty, PADIO_MODEL) != 0); // never starts an unverified image
    QCOMPARE(f.dcDeviceExist(loader), 0);
    QCOMPARE(f.dcCheckRom(loader, kEmpty, PADIO_MODEL, uint32_t(payload.size()), check), 0);
    QCOMPARE(f.dcFinishUpdateRom(loader, kEmpty, PADIO_MODEL), 0);
    QVERIFY(f.dcDeviceExist(loader) != 0);

    QVERIFY(waitForEvents(15)); // the loader went
    QTRY_COMPARE(f.dcDeviceExist(wide(kPadHardwareId)), 0);
    QVERIFY(waitForEvents(20)); // the pad is back
    {
        // Between leaving its loader and coming back the pad is not listed.
        QMutexLocker lock(&callbackLog().mutex);
        QCOMPARE(callbackLog().events[14].devicesSeen, 0);
        QCOMPARE(callbackLog().events[15].devicesSeen, 1);
    }
    const QByteArray table = devicesTable();
    QCOMPARE(uint8_t(table[0]), uint8_t(1));
    QCOMPARE(table.mid(2 + PADIO_REC_VERSION, 17), padded("2.1.0", 17));
    QVERIFY(padctl({"list"}).out.contains("2.1.0"));
}

void TestPadio::resetRefusals()
{
    uint8_t status = 0;
    QVERIFY(f.dcReset(wide(kPadHardwareId), kEmpty, PADIO_MODEL, 2, &status, 0) != 0);
    QCOMPARE(f.dcDeviceExist(wide(kPadHardwareId)), 0);

    QCOMPARE(padctl({"plug", "--id", "SECOND"}).exitCode, 0);
    QCOMPARE(f.dcReset(wide(kPadHardwareId), kEmpty, PADIO_MODEL, 1, &status, 0), 0);
    // The loader's single HardwareID is taken, even before it shows up.
    QVERIFY(f.dcReset(wide(kPadHardwareId + "&SECOND"), kEmpty, PADIO_MODEL, 1, &status, 0) != 0);
    QTRY_COMPARE(f.dcDeviceExist(wide(kLoaderHardwareId)), 0);
    QVERIFY(f.dcReset(wide(kPadHardwareId + "&SECOND"), kEmpty, PADIO_MODEL, 1, &status, 0) != 0);
    QVERIFY(f.dcReset(wide(kLoaderHardwareId), kEmpty, PADIO_MODEL, 1, &status, 0) != 0);
    // The pad in its loader takes no data.
    const PadctlResult data = padctl({"data", "5E1C7A92", "0000000000000000"});
    QCOMPARE(data.exitCode, 1);
    QVERIFY(data.err.contains("loader"));
}

void TestPadio::unloadDuringRestartKeepsLoader()
{
    uint8_t status = 0;
    QCOMPARE(f.dcReset(wide(kPadHardwareId), kEmpty, PADIO_MODEL, 1, &status, 0), 0);
    QVERIFY(m_library.unload()); // with the loader's arrival still pending on the library thread
    QString missing;
    QVERIFY2(loadPadio(&m_library, &f, &missing), qPrintable(missing));
    // Like a real pad, it is still in its loader when the program comes back.
    QCOMPARE(f.dcDeviceExist(wide(kLoaderHardwareId)), 0);
    QVERIFY(f.dcDeviceExist(wide(kPadHardwareId)) != 0);
}

QTEST_GUILESS_MAIN(TestPadio)
#include "tst_padio.moc"
