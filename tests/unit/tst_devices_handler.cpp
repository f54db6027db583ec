// The device library's callbacks as the library calls them: which device events are acted on,
// in which order, from how many threads, and the text of a pad's report. Then the real virtual
// library: a report sent with padctl arrives on a library thread.
#include "device_table.h"
#include "devices_handler.h"

#include <QtTest>
#include <QSemaphore>

#include <QMutex>
#include <QProcess>
#include <QThread>

#include <memory>
#include <thread>
#include <vector>

namespace {

// What the callbacks handed to the program, in order.
struct Recorder {
    QMutex mutex;
    QStringList calls;
    QVector<Qt::HANDLE> threads;

    devices_handler::Sinks sinks()
    {
        devices_handler::Sinks s;
        s.refresh = [this] { add(QStringLiteral("refresh")); };
        s.devicesChanged = [this](int code) { add(QStringLiteral("changed:%1").arg(code)); };
        s.deviceData = [this](const QString &text) { add(QStringLiteral("data:") + text); };
        s.browserMsg = [this](const QString &text) { add(QStringLiteral("msg:") + text); };
        return s;
    }
    void add(const QString &call)
    {
        QMutexLocker lock(&mutex);
        calls << call;
        threads << QThread::currentThreadId();
    }
    QStringList taken()
    {
        QMutexLocker lock(&mutex);
        return calls;
    }
};

} // namespace

class TestDevicesHandler : public QObject {
    Q_OBJECT

private slots:
    void firstOfEveryFiveEventsIsActedOn();
    void eventsFromManyThreadsStillOneInFive();
    void reportText_data();
    void reportText();
    void dataCallbackRaisesTheReport();
    void callbacksAfterTheHandlerWentDoNothing();
    void goingAwayWaitsForACallbackInFlight();
    void reportFromTheVirtualPadArrivesOnALibraryThread();
};

void TestDevicesHandler::firstOfEveryFiveEventsIsActedOn()
{
    devices_handler handler(QStringList(), nullptr, nullptr);
    QVERIFY(!handler.isLoaded());
    Recorder recorder;
    handler.setSinks(recorder.sinks());

    // Bits above the low 16 never reach the page.
    const uint32_t codes[] = {0x00010007, 2, 3, 4, 5, 0xFFFF0006, 7};
    for (uint32_t code : codes)
        QVERIFY(devices_handler::deviceEventCallback(code) != 0);
    // The table is current before the page hears of the change.
    QCOMPARE(recorder.taken(), QStringList({"refresh", "changed:7", "refresh", "changed:6"}));
}

void TestDevicesHandler::eventsFromManyThreadsStillOneInFive()
{
    devices_handler handler(QStringList(), nullptr, nullptr);
    std::atomic<int> acted{0};
    devices_handler::Sinks sinks;
    sinks.devicesChanged = [&acted](int) { acted.fetch_add(1); };
    handler.setSinks(sinks);

    const int threads = 4, perThread = 2500;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([] {
            for (int i = 0; i < perThread; ++i)
                devices_handler::deviceEventCallback(1);
        });
    for (std::thread &worker : workers)
        worker.join();
    QCOMPARE(acted.load(), threads * perThread / 5);
}

void TestDevicesHandler::reportText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("counting") << QByteArray::fromHex("0001020304050607") << "0001020304050607";
    QTest::newRow("all ones") << QByteArray::fromHex("ffffffffffffffff") << "ffffffffffffffff";
    QTest::newRow("nibble order, lower case") << QByteArray::fromHex("a50f10e7c3b2d1ab") << "a50f10e7c3b2d1ab";
}

void TestDevicesHandler::reportText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(devices_handler::reportText(reinterpret_cast<const uint8_t *>(bytes.constData())), text);
}

void TestDevicesHandler::dataCallbackRaisesTheReport()
{
    devices_handler handler(QStringList(), nullptr, nullptr);
    Recorder recorder;
    handler.setSinks(recorder.sinks());

    const uint8_t report[8] = {0xde, 0xad, 0xbe, 0xef, 0x00, 0x01, 0x80, 0x7f};
    const padio_data_cell cell{report};
    QVERIFY(devices_handler::deviceDataCallback(&cell, 0xFFFFFFFF) != 0);
    // A library that hands over nothing does not crash the program.
    const padio_data_cell empty{nullptr};
    QVERIFY(devices_handler::deviceDataCallback(&empty, 0) != 0);
    QVERIFY(devices_handler::deviceDataCallback(nullptr, 0) != 0);
    QCOMPARE(recorder.taken(), QStringList({"data:deadbeef0001807f"}));
}

void TestDevicesHandler::callbacksAfterTheHandlerWentDoNothing()
{
    Recorder recorder;
    {
        devices_handler handler(QStringList(), nullptr, nullptr);
        handler.setSinks(recorder.sinks());
    }
    const uint8_t report[8] = {};
    const padio_data_cell cell{report};
    QVERIFY(devices_handler::deviceEventCallback(1) != 0);
    QVERIFY(devices_handler::deviceDataCallback(&cell, 0) != 0);
    QVERIFY(recorder.taken().isEmpty());
}

void TestDevicesHandler::goingAwayWaitsForACallbackInFlight()
{
    auto *handler = new devices_handler(QStringList(), nullptr, nullptr);
    QSemaphore entered, release;
    devices_handler::Sinks sinks;
    sinks.deviceData = [&](const QString &) {
        entered.release();
        release.acquire();
    };
    handler->setSinks(sinks);
    const uint8_t report[8] = {};
    const padio_data_cell cell{report};
    std::thread library([&cell] { devices_handler::deviceDataCallback(&cell, 0); });
    entered.acquire();
    std::atomic<bool> gone{false};
    std::thread owner([&] {
        delete handler;
        gone = true;
    });
    // The sink still runs with the handler's state: the handler must not be gone under it. A
    // negative check, so a bounded wait: time for the owner's thread to get through a destructor
    // that does not wait.
    QTest::qWait(100);
    QVERIFY(!gone);
    release.release();
    owner.join();
    library.join();
    QVERIFY(gone);
}

void TestDevicesHandler::reportFromTheVirtualPadArrivesOnALibraryThread()
{
    const QString padctl = QStringLiteral(VEXA_APP_DIR "/padctl");
    if (!QFile::exists(padctl))
        QSKIP("the virtual library and padctl are not built");
    QTemporaryDir home;
    QVERIFY(home.isValid());
    qputenv("PADIO_HOME", home.path().toLocal8Bit());

    devices_handler handler({QStringLiteral(VEXA_APP_DIR "/padio")}, nullptr, nullptr);
    QVERIFY2(handler.isLoaded(), qPrintable(handler.libraryFileName()));
    Recorder recorder;
    handler.setSinks(recorder.sinks());
    // Registers the data callback for the first pad.
    const QByteArray table = handler.enumerateDevices();
    QVERIFY(device_table::recordCount(table) >= 1);
    const QString id = device_table::record(table, 0).DeviceID;

    QProcess tool;
    tool.start(padctl, {QStringLiteral("data"), id, QStringLiteral("0001020304050607")});
    QVERIFY(tool.waitForFinished(10000));
    QCOMPARE(tool.exitCode(), 0);
    QTRY_VERIFY(recorder.taken().contains(QStringLiteral("data:0001020304050607")));
    QMutexLocker lock(&recorder.mutex);
    QVERIFY(recorder.threads.at(recorder.calls.indexOf("data:0001020304050607")) != QThread::currentThreadId());
}

QTEST_GUILESS_MAIN(TestDevicesHandler)
#include "tst_devices_handler.moc"
