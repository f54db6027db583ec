// padctl as its user runs it: on the state folder alone, and against a loaded library.
#include "padio_test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class TestPadctl : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void badInput_data();
    void badInput();
    void helpListsEveryCommand();
    void editsStateFolderWithoutProgram();
    void streamSendsNumberedReportsThroughLibrary();
    void demoPlaysThroughTheReportLayoutAndEnds();
    void firmwareImageHasTheReadFields();
    void firmwareReplacesOnlyRegularFiles();
    void controlSocketOnlyInAPrivateFolder();

private:
    bool loadLibrary();
    // Loads the library on the state folder folder and lets it start listening.
    bool startLibraryOn(const QString &folder);

    QScopedPointer<QTemporaryDir> m_home;
    QLibrary m_library;
    PadioFunctions f;
};

void TestPadctl::init()
{
    m_home.reset(new QTemporaryDir);
    QVERIFY(m_home->isValid());
    qputenv("PADIO_HOME", QFile::encodeName(m_home->path()));
}

void TestPadctl::cleanup()
{
    if (m_library.isLoaded()) {
        padio_device_data_fn noData = nullptr;
        const padio_char empty[] = {0};
        f.dconDeviceData(wide(QStringLiteral("HID\\Vid_5e1c&Pid_7a92&MI_00")), empty, PADIO_MODEL, &noData);
        QVERIFY(m_library.unload());
    }
}

bool TestPadctl::loadLibrary()
{
    QString missing;
    const bool loaded = loadPadio(&m_library, &f, &missing);
    if (!loaded)
        qWarning("%s", qPrintable(missing));
    return loaded;
}

void TestPadctl::badInput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    // 2: the command line itself is wrong; 1: well-formed, but it cannot be done.
    QTest::newRow("nothing") << QStringList() << 2 << "no command given";
    QTest::newRow("unknown command") << QStringList {"frob"} << 2 << "unknown command frob";
    QTest::newRow("extra argument") << QStringList {"list", "x"} << 2 << "usage: padctl list";
    QTest::newRow("id with a slash") << QStringList {"unplug", "../x"} << 2 << "letters, digits";
    QTest::newRow("unknown id") << QStringList {"unplug", "NOPE"} << 1 << "no pad with the id NOPE";
    QTest::newRow("short report") << QStringList {"data", "5E1C7A92", "0011"} << 2 << "16 hexadecimal digits";
    QTest::newRow("report not hex") << QStringList {"data", "5E1C7A92", "00112233445566zz"} << 2
                                    << "16 hexadecimal digits";
    QTest::newRow("data without program") << QStringList {"data", "5E1C7A92", "0011223344556677"} << 1
                                          << "no running vexa";
    QTest::newRow("stream zero hz") << QStringList {"stream", "5E1C7A92", "0", "1"} << 2 << "HZ";
    QTest::newRow("stream hz with text") << QStringList {"stream", "5E1C7A92", "10x", "1"} << 2 << "HZ";
    QTest::newRow("stream bad seconds") << QStringList {"stream", "5E1C7A92", "100", "soon"} << 2 << "SECONDS";
    QTest::newRow("stream without program") << QStringList {"stream", "5E1C7A92", "100", "1"} << 1
                                            << "no running vexa";
    QTest::newRow("demo bad seconds") << QStringList {"demo", "5E1C7A92", "0"} << 2 << "SECONDS";
    QTest::newRow("demo without program") << QStringList {"demo", "5E1C7A92", "1"} << 1 << "no running vexa";
    QTest::newRow("address not hex") << QStringList {"mem", "5E1C7A92", "1g00", "4"} << 2 << "ADDR";
    QTest::newRow("negative size") << QStringList {"mem", "5E1C7A92", "0", "-1"} << 2 << "SIZE";
    QTest::newRow("past memory end") << QStringList {"mem", "5E1C7A92", "fffe", "3"} << 2 << "memory ends";
    QTest::newRow("huge address") << QStringList {"mem", "5E1C7A92", "0x100000000", "1"} << 2 << "ADDR";
    QTest::newRow("mem unknown id") << QStringList {"mem", "NOPE", "0", "1"} << 1 << "no pad with the id NOPE";
    QTest::newRow("option without value") << QStringList {"plug", "--id"} << 2 << "needs a value";
    QTest::newRow("unknown option") << QStringList {"plug", "--colour", "red"} << 2 << "unknown option --colour";
    QTest::newRow("mask too long") << QStringList {"plug", "--mask", "123"} << 2 << "at most 2 bytes";
    QTest::newRow("serial number too long") << QStringList {"plug", "--sn", "123456789012345"} << 2
                                            << "at most 14 bytes";
    QTest::newRow("id taken") << QStringList {"plug", "--id", "5E1C7A92"} << 1 << "already plugged in";
    QTest::newRow("notifications unknown id") << QStringList {"notifications", "NOPE"} << 1 << "no pad";
    QTest::newRow("fail-reads bad count") << QStringList {"fail-reads", "5E1C7A92", "-1"} << 2 << "COUNT";
    // The count lives in the running library only; written nowhere, it would do nothing.
    QTest::newRow("fail-reads without program") << QStringList {"fail-reads", "5E1C7A92"} << 1 << "no running vexa";
    QTest::newRow("firmware bad length") << QStringList {"firmware", "f.bin", "1.0", "70000"} << 2 << "LENGTH";
}

void TestPadctl::badInput()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    const PadctlResult result = padctl(arguments);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QCOMPARE(result.out, QString());
}

void TestPadctl::helpListsEveryCommand()
{
    const PadctlResult result = padctl({"--help"});
    QCOMPARE(result.exitCode, 0);
    for (const char *command : {"list", "plug", "unplug", "data", "stream", "demo", "mem", "notifications", "fail-reads",
                                "firmware"})
        QVERIFY2(result.out.contains(QLatin1String("\n  ") + command), command);
}

void TestPadctl::editsStateFolderWithoutProgram()
{
    PadctlResult result = padctl({"plug", "--id", "P2", "--sn", "S-2", "--version", "9.9", "--mask", "02"});
    QCOMPARE(result.exitCode, 0);
    result = padctl({"list"});
    QCOMPARE(result.exitCode, 0);
    const QStringList lines = result.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith("5E1C7A92"));
    QVERIFY(lines[1].contains(QRegularExpression("^P2 +9\\.9 +S-2 +02 +pad +HID\\\\Vid_5e1c&Pid_7a92&MI_00&P2 ")));

    // The memory file as the library leaves it; the dump shows the address and the bytes.
    QVERIFY(QDir().mkpath(m_home->filePath("pads/P2")));
    QFile memory(m_home->filePath("pads/P2/memory"));
    QVERIFY(memory.open(QIODevice::WriteOnly));
    QByteArray content(65536, '\0');
    content.replace(0x1f10, 4, "AB\x01\xff");
    memory.write(content);
    memory.close();
    result = padctl({"mem", "P2", "0x1f08", "12"});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QString("1f08  00 00 00 00 00 00 00 00 41 42 01 ff              |........AB..|\n"));

    QCOMPARE(padctl({"unplug", "P2"}).exitCode, 0);
    QVERIFY(!padctl({"list"}).out.contains("P2"));
    // Its memory waits for the pad to come back.
    QCOMPARE(padctl({"plug", "--id", "P2"}).exitCode, 0);
    QVERIFY(padctl({"mem", "P2", "1f10", "2"}).out.startsWith("1f10  41 42"));

    QCOMPARE(padctl({"unplug", "5E1C7A92"}).exitCode, 0);
    QCOMPARE(padctl({"unplug", "P2"}).exitCode, 0);
    // An empty list stays empty: the first-use pad is not created again.
    QCOMPARE(padctl({"list"}).out, QString("no pads plugged in\n"));
}

void TestPadctl::streamSendsNumberedReportsThroughLibrary()
{
    QVERIFY(loadLibrary());
    callbackLog().reset(f.dcDevices);
    padio_device_data_fn onData = recordReport;
    const padio_char empty[] = {0};
    QCOMPARE(f.dconDeviceData(wide(QStringLiteral("HID\\Vid_5e1c&Pid_7a92&MI_00")), empty, PADIO_MODEL, &onData), 0);

    const PadctlResult result = padctl({"stream", "5E1C7A92", "200", "0.25"});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.out.startsWith("sent 50 reports in "), qPrintable(result.out));
    QVERIFY2(result.out.contains("50 delivered"), qPrintable(result.out));
    QTRY_COMPARE(callbackLog().reportCount(), 50);
    QMutexLocker lock(&callbackLog().mutex);
    uint32_t previousTime = 0;
    for (int i = 0; i < 50; ++i) {
        const QByteArray &report = callbackLog().reports[i];
        QCOMPARE(qFromLittleEndian<quint32>(report.constData()), quint32(i));
        const quint32 sentAt = qFromLittleEndian<quint32>(report.constData() + 4);
        if (i > 0)
            QVERIFY(sentAt - previousTime < 1000000u); // microseconds, a few ms apart
        previousTime = sentAt;
    }
}

void TestPadctl::demoPlaysThroughTheReportLayoutAndEnds()
{
    QVERIFY(loadLibrary());
    callbackLog().reset(f.dcDevices);
    padio_device_data_fn onData = recordReport;
    const padio_char empty[] = {0};
    QCOMPARE(f.dconDeviceData(wide(QStringLiteral("HID\\Vid_5e1c&Pid_7a92&MI_00")), empty, PADIO_MODEL, &onData), 0);

    // 1.5 s at 1000 reports a second, and not one report more once it has returned.
    QElapsedTimer clock;
    clock.start();
    const PadctlResult result = padctl({"demo", "5E1C7A92", "1.5"});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.out.startsWith("sent 1500 reports in "), qPrintable(result.out));
    QVERIFY(clock.elapsed() >= 1450);
    QTRY_COMPARE(callbackLog().reportCount(), 1500);
    // A negative check, so bounded: a report sent after padctl returned would be here by now.
    QTest::qWait(100);
    QCOMPARE(callbackLog().reportCount(), 1500);

    // Bytes 0-1 buttons (bit 15 unused), 2-5 sticks, 6-7 triggers: a player's hands, not a counter.
    QMutexLocker lock(&callbackLog().mutex);
    const QVector<QByteArray> reports = callbackLog().reports;
    int presses = 0, releases = 0, maxStep = 0;
    quint16 everPressed = 0;
    uint8_t low[6], high[6];
    std::fill(low, low + 6, 255);
    std::fill(high, high + 6, 0);
    quint16 previousButtons = 0;
    for (int i = 0; i < reports.size(); ++i) {
        const auto *b = reinterpret_cast<const uint8_t *>(reports[i].constData());
        const quint16 buttons = quint16(b[0] | b[1] << 8);
        QVERIFY2(!(buttons & 0x8000), qPrintable(reports[i].toHex()));
        presses += (buttons & ~previousButtons) ? 1 : 0;
        releases += (previousButtons & ~buttons) ? 1 : 0;
        everPressed |= buttons;
        for (int k = 0; k < 6; ++k) {
            low[k] = std::min(low[k], b[2 + k]);
            high[k] = std::max(high[k], b[2 + k]);
            if (i > 0 && i < reports.size() - 1)
                maxStep = std::max(maxStep, std::abs(int(b[2 + k]) - int(uint8_t(reports[i - 1][2 + k]))));
        }
        previousButtons = buttons;
    }
    QVERIFY2(presses >= 4 && releases >= 4, qPrintable(QString("%1 presses, %2 releases").arg(presses).arg(releases)));
    QCOMPARE(everPressed & 0x000F, 0x000F); // A, B, X, Y
    QVERIFY(everPressed & 0x0030);          // a shoulder button
    for (int k = 0; k < 4; ++k)             // sticks swing far from the centre both ways
        QVERIFY2(low[k] < 80 && high[k] > 175, qPrintable(QString("axis %1: %2..%3").arg(k).arg(low[k]).arg(high[k])));
    for (int k = 4; k < 6; ++k)             // triggers let go and squeezed fully
        QVERIFY2(low[k] == 0 && high[k] >= 250, qPrintable(QString("trigger %1: %2..%3").arg(k).arg(low[k]).arg(high[k])));
    QVERIFY2(maxStep <= 8, qPrintable(QString("largest step %1").arg(maxStep))); // smooth, no jumps
    QCOMPARE(reports.last().toHex(), QByteArray("0000808080800000")); // let go at the end
}

void TestPadctl::firmwareImageHasTheReadFields()
{
    const QString file = m_home->filePath("update.bin");
    const PadctlResult result = padctl({"firmware", file, "3.0.1", "4001"});
    QCOMPARE(result.exitCode, 0);
    QFile image(file);
    QVERIFY(image.open(QIODevice::ReadOnly));
    const QByteArray bytes = image.readAll();
    QVERIFY(bytes.size() <= 67170);
    QCOMPARE(qFromLittleEndian<quint32>(bytes.constData()), quint32(0x1016));
    QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 4), quint32(0));
    QCOMPARE(bytes.mid(264, 9), QByteArray("PXFW3.0.1"));
    QCOMPARE(qFromLittleEndian<qint64>(bytes.constData() + 66113), qint64(4001));
    const quint32 check = qFromLittleEndian<quint32>(bytes.constData() + 66121);
    QCOMPARE(check, bitwiseCrc32(bytes.mid(264, 4001)));
    QVERIFY(result.out.contains(QStringLiteral("0x%1").arg(check, 8, 16, QLatin1Char('0'))));
}

void TestPadctl::firmwareReplacesOnlyRegularFiles()
{
    // A FIFO made here stands for any node that is not a plain file (a device, a socket).
    const QString fifo = m_home->filePath("update.fifo");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const PadctlResult result = padctl({"firmware", fifo, "3.0.1"});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("not a regular file"), qPrintable(result.err));
    struct stat status;
    QCOMPARE(::lstat(QFile::encodeName(fifo).constData(), &status), 0);
    QVERIFY(S_ISFIFO(status.st_mode));
    QCOMPARE(QDir(m_home->path()).entryList(QDir::Files | QDir::System), QStringList{"update.fifo"});
}

QTEST_GUILESS_MAIN(TestPadctl)
#include "tst_padctl.moc"

bool TestPadctl::startLibraryOn(const QString &folder)
{
    if (m_library.isLoaded()) {
        cleanup();
        if (m_library.isLoaded())
            return false;
    }
    qputenv("PADIO_HOME", QFile::encodeName(folder));
    if (!loadLibrary())
        return false;
    QByteArray table(PADIO_TABLE_SIZE, '\0');
    padio_filter filter {};
    f.dcDevices(filter, reinterpret_cast<uint8_t *>(table.data()), PADIO_TABLE_SIZE);
    return true;
}

void TestPadctl::controlSocketOnlyInAPrivateFolder()
{
    const auto abstractPadioSockets = [] {
        QFile table(QStringLiteral("/proc/net/unix"));
        if (!table.open(QIODevice::ReadOnly))
            return -1;
        return int(table.readAll().count(" @padio-"));
    };
    const int abstractBefore = abstractPadioSockets();

    // Too long for a socket address: no socket at all rather than a name in the abstract
    // namespace, where any user could list, plug and read the pads; the folder itself still works.
    const QString deep = m_home->filePath(QString(120, QLatin1Char('d')));
    QVERIFY(QDir().mkpath(deep));
    QVERIFY(startLibraryOn(deep));
    QCOMPARE(abstractPadioSockets(), abstractBefore);
    QVERIFY(!QFile::exists(deep + "/padio.sock"));
    const PadctlResult listed = padctl({"list"});
    QCOMPARE(listed.exitCode, 0);
    QVERIFY2(listed.out.contains("5E1C7A92"), qPrintable(listed.out + listed.err));

    // A folder others may enter is made private before the socket goes in.
    const QString loose = m_home->filePath("loose");
    QVERIFY(QDir().mkpath(loose));
    QVERIFY(QFile::setPermissions(loose, QFileDevice::Permissions(0x7777)));
    QVERIFY(startLibraryOn(loose));
    QTRY_VERIFY(QFile::exists(loose + "/padio.sock"));
    QCOMPARE(QFileInfo(loose).permissions() & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                                               | QFileDevice::ReadOther | QFileDevice::WriteOther
                                               | QFileDevice::ExeOther),
             QFileDevice::Permissions());

    // A folder of another user (or a link to one) gets no socket of ours.
    if (geteuid() != 0)
        QSKIP("changing a folder's owner needs root");
    const QString foreign = m_home->filePath("foreign");
    QVERIFY(QDir().mkpath(foreign));
    QVERIFY(::chmod(QFile::encodeName(foreign).constData(), 0700) == 0);
    QVERIFY(::chown(QFile::encodeName(foreign).constData(), 65534, 65534) == 0);
    // The library binds its socket, or refuses to, inside the first call that opens its store:
    // by the time startLibraryOn() returns there is nothing left to wait for.
    QVERIFY(startLibraryOn(foreign));
    QVERIFY(!QFile::exists(foreign + "/padio.sock"));
    QCOMPARE(abstractPadioSockets(), abstractBefore);
    const QString link = m_home->filePath("link");
    QVERIFY(QFile::link(foreign, link));
    QVERIFY(::lchown(QFile::encodeName(link).constData(), 65534, 65534) == 0);
    QVERIFY(startLibraryOn(link));
    QVERIFY(!QFile::exists(foreign + "/padio.sock"));
}
