// The flash sequence against a recording stand-in for the device library: which calls reach the
// loader with which blocks, what the label shows, and how long the flash would wait. The waits
// are recorded, not slept, so the 13-second path runs at once.
#include "firmware_flash.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kPad = QStringLiteral("HID\\Vid_5e1c&Pid_7a92&SN_1");

struct BlockCall {
    int length;
    int offset;
    QByteArray bytes; // the whole 2048-byte buffer handed over
};

class RecordingRom : public FirmwareRom {
public:
    // The loader shows up after this many waits; never when negative.
    int loaderAfterWaits = 1;
    // bornRom calls (0-based) the loader refuses.
    QList<int> refusedBlocks;
    bool checkPasses = true;

    QStringList calls;
    QList<BlockCall> blocks;
    QList<int> waits;

    // A pad left in its loader is not in the device list.
    bool padListed = true;

    QString firstPadHardwareId() override { return padListed ? kPad : QString(); }
    bool deviceExists(const QString &id) override
    {
        if (id == kPad)
            return padListed;
        return id == FirmwareFlash::loaderHardwareId && loaderAfterWaits >= 0 && waits.size() >= loaderAfterWaits;
    }
    bool canRebootIntoLoader() override { return true; }
    void resetIntoLoader(const QString &id) override { calls << QStringLiteral("reset ") + id; }
    void eraseRom(const QString &id) override { calls << QStringLiteral("erase ") + id; }
    bool bornRom(const QString &id, const Block &block, int length, int offset) override
    {
        calls << QStringLiteral("born ") + id;
        blocks.append({length, offset, QByteArray(reinterpret_cast<const char *>(block.data()), int(block.size()))});
        return !refusedBlocks.contains(blocks.size() - 1);
    }
    bool checkRom(const QString &id, uint32_t length, uint32_t checkValue) override
    {
        calls << QStringLiteral("check %1 %2 %3").arg(id).arg(length).arg(checkValue, 8, 16, QLatin1Char('0'));
        return checkPasses;
    }
    void finishUpdateRom(const QString &id) override { calls << QStringLiteral("finish ") + id; }
};

char payloadByte(qint64 i)
{
    return char((i * 7 + 3) & 0xFF);
}

void put(QByteArray &image, int offset, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        image[offset + i] = char(value >> (8 * i));
}

// A sane image of fileSize bytes with the given payload length; cases break one field of it.
QByteArray imageBytes(qint64 length, int fileSize = 66125)
{
    QByteArray image(fileSize, '\0');
    put(image, FirmwareFlash::kMagicOffset, FirmwareFlash::kMagic, 4);
    for (qint64 i = 0; i < length && FirmwareFlash::kPayloadOffset + i < FirmwareFlash::kLengthOffset; ++i)
        image[int(FirmwareFlash::kPayloadOffset + i)] = payloadByte(i);
    put(image, FirmwareFlash::kLengthOffset, quint64(length), 8);
    put(image, FirmwareFlash::kCheckValueOffset, 0xC0FFEE42u, 4);
    return image;
}

} // namespace

class tst_FirmwareFlash : public QObject {
    Q_OBJECT

private slots:
    void blocksCoverThePayload_data();
    void blocksCoverThePayload();
    void whatStopsAFlashIsToldBeforeThePadIsTouched();
    void imageThatCannotFitIsRefusedBeforeTheReset_data();
    void imageThatCannotFitIsRefusedBeforeTheReset();
    void loaderThatNeverAppearsEndsAfterThirteenSeconds();
    void writeFailureIsShownAndVerificationStillDecides();
    void padInItsLoaderIsFlashedWithoutARestart();
    void loaderOnlyFlashSaysWhyItDidNotStart();

private:
    FirmwareFlash::Outcome flash(RecordingRom &rom, const QByteArray &image, bool inLoader = false);

    QTemporaryDir m_dir;
    QStringList m_shown;
};

FirmwareFlash::Outcome tst_FirmwareFlash::flash(RecordingRom &rom, const QByteArray &image, bool inLoader)
{
    const QString path = m_dir.filePath(QStringLiteral("update.bin"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(image) != image.size())
        qFatal("cannot write the test image");
    file.close();
    m_shown.clear();
    FirmwareFlash flasher(rom, path);
    flasher.setWait([&rom](int ms) { rom.waits << ms; });
    flasher.setShow([this](const QString &text) { m_shown << text; });
    return inLoader ? flasher.flashInLoader() : flasher.flashFirmware();
}

void tst_FirmwareFlash::blocksCoverThePayload_data()
{
    QTest::addColumn<qint64>("length");
    QTest::addColumn<QList<int>>("lengths");
    QTest::addColumn<QList<int>>("offsets");
    QTest::newRow("one byte past whole blocks") << qint64(4001) << QList<int>{2000, 2000, 1} << QList<int>{0, 2000, 4000};
    QTest::newRow("whole blocks end with an empty one") << qint64(4000) << QList<int>{2000, 2000, 0}
                                                        << QList<int>{0, 2000, 4000};
    QTest::newRow("largest payload") << FirmwareFlash::kMaxPayload << QList<int>{} << QList<int>{};
}

void tst_FirmwareFlash::blocksCoverThePayload()
{
    QFETCH(qint64, length);
    QFETCH(QList<int>, lengths);
    QFETCH(QList<int>, offsets);
    RecordingRom rom;
    QCOMPARE(flash(rom, imageBytes(length)), FirmwareFlash::Outcome::Verified);

    if (!lengths.isEmpty()) {
        QList<int> seenLengths, seenOffsets;
        for (const BlockCall &call : qAsConst(rom.blocks)) {
            seenLengths << call.length;
            seenOffsets << call.offset;
        }
        QCOMPARE(seenLengths, lengths);
        QCOMPARE(seenOffsets, offsets);
    }
    // Each block carries its own stretch of the payload and zeros after it, never bytes from
    // beyond the payload (the length and check fields follow it in the image).
    qint64 covered = 0;
    for (const BlockCall &call : qAsConst(rom.blocks)) {
        QCOMPARE(call.bytes.size(), FirmwareRom::kBlockBufferSize);
        QCOMPARE(qint64(call.offset), covered);
        for (int i = 0; i < FirmwareRom::kBlockBufferSize; ++i)
            QCOMPARE(call.bytes.at(i), i < call.length ? payloadByte(call.offset + i) : '\0');
        covered += call.length;
    }
    QCOMPARE(covered, length);
    QCOMPARE(rom.calls.last(), QStringLiteral("finish ") + FirmwareFlash::loaderHardwareId);
    QCOMPARE(rom.calls.at(rom.calls.size() - 2),
             QStringLiteral("check %1 %2 c0ffee42").arg(FirmwareFlash::loaderHardwareId).arg(length));
    QCOMPARE(m_shown, (QStringList{FirmwareFlash::kFlashingText, FirmwareFlash::kWrittenText, FirmwareFlash::kVerifiedText}));
}

void tst_FirmwareFlash::whatStopsAFlashIsToldBeforeThePadIsTouched()
{
    // "Do not unplug" never shows over a flash that does not happen.
    QByteArray foreign = imageBytes(4001);
    put(foreign, FirmwareFlash::kMagicOffset, 0x1017, 4);
    RecordingRom rom;
    QCOMPARE(flash(rom, foreign), FirmwareFlash::Outcome::ImageIgnored);
    QCOMPARE(m_shown, QStringList{FirmwareFlash::kForeignImageText});

    RecordingRom unplugged;
    unplugged.padListed = false;
    QCOMPARE(flash(unplugged, imageBytes(4001)), FirmwareFlash::Outcome::NoPad);
    QCOMPARE(m_shown, QStringList{FirmwareFlash::kNoPadText});

    for (const RecordingRom *untouched : {&rom, &unplugged}) {
        QVERIFY(untouched->calls.isEmpty());
        QVERIFY(untouched->waits.isEmpty());
    }
}

void tst_FirmwareFlash::imageThatCannotFitIsRefusedBeforeTheReset_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::newRow("payload longer than the image holds") << imageBytes(FirmwareFlash::kMaxPayload + 1);
    QTest::newRow("negative length") << imageBytes(-1);
    QTest::newRow("file longer than the image buffer") << imageBytes(4001, FirmwareFlash::kImageSize + 1);
}

void tst_FirmwareFlash::imageThatCannotFitIsRefusedBeforeTheReset()
{
    QFETCH(QByteArray, image);
    RecordingRom rom;
    QCOMPARE(flash(rom, image), FirmwareFlash::Outcome::ImageRefused);
    QVERIFY(rom.calls.isEmpty());
    QCOMPARE(m_shown, QStringList{FirmwareFlash::kInvalidImageText});
}

void tst_FirmwareFlash::loaderThatNeverAppearsEndsAfterThirteenSeconds()
{
    RecordingRom rom;
    rom.loaderAfterWaits = -1;
    QCOMPARE(flash(rom, imageBytes(4001)), FirmwareFlash::Outcome::LoaderMissing);
    QCOMPARE(rom.waits, (QList<int>{4000, 4000, 5000}));
    QCOMPARE(rom.calls, QStringList{QStringLiteral("reset ") + kPad});
    QCOMPARE(m_shown, (QStringList{FirmwareFlash::kFlashingText, FirmwareFlash::kLoaderMissingText}));
}

void tst_FirmwareFlash::writeFailureIsShownAndVerificationStillDecides()
{
    RecordingRom rom;
    rom.loaderAfterWaits = 1;
    rom.refusedBlocks = {2};
    rom.checkPasses = false;
    QCOMPARE(flash(rom, imageBytes(4001)), FirmwareFlash::Outcome::VerificationFailed);
    // The loader was there after the first wait: no second or third; then the pause after the
    // erase and one after every block.
    QCOMPARE(rom.waits, (QList<int>{4000, 1000, 20, 20, 20}));
    QCOMPARE(m_shown,
             (QStringList{FirmwareFlash::kFlashingText, FirmwareFlash::kWriteFailedText, FirmwareFlash::kVerifyFailedText}));
    QVERIFY(rom.calls.last().startsWith(QLatin1String("check ")));
    QCOMPARE(rom.calls.first(), QStringLiteral("reset ") + kPad);
    QCOMPARE(rom.calls.at(1), QStringLiteral("erase ") + FirmwareFlash::loaderHardwareId);
}

void tst_FirmwareFlash::padInItsLoaderIsFlashedWithoutARestart()
{
    RecordingRom rom;
    rom.padListed = false;
    rom.loaderAfterWaits = 0;
    QCOMPARE(flash(rom, imageBytes(4001), true), FirmwareFlash::Outcome::Verified);
    const QString loader = FirmwareFlash::loaderHardwareId;
    QCOMPARE(rom.calls, (QStringList{QStringLiteral("erase ") + loader, QStringLiteral("born ") + loader,
                                     QStringLiteral("born ") + loader, QStringLiteral("born ") + loader,
                                     QStringLiteral("check %1 4001 c0ffee42").arg(loader),
                                     QStringLiteral("finish ") + loader}));
    QCOMPARE(rom.blocks.size(), 3);
    QCOMPARE(rom.blocks.last().length, 1);
    QCOMPARE(rom.blocks.last().bytes.at(0), payloadByte(4000));
    // No wait for a loader that is there already: the pause after the erase, one per block, the
    // pause before the restart.
    QCOMPARE(rom.waits, (QList<int>{1000, 20, 20, 20, 100}));
    QCOMPARE(m_shown, (QStringList{FirmwareFlash::kFlashingText, FirmwareFlash::kWrittenText, FirmwareFlash::kVerifiedText}));
}

void tst_FirmwareFlash::loaderOnlyFlashSaysWhyItDidNotStart()
{
    // The user asked for this flash: a foreign image is not passed over in silence.
    QByteArray foreign = imageBytes(4001);
    put(foreign, FirmwareFlash::kMagicOffset, 0x1017, 4);
    RecordingRom rom;
    rom.padListed = false;
    rom.loaderAfterWaits = 0;
    QCOMPARE(flash(rom, foreign, true), FirmwareFlash::Outcome::ImageRefused);
    QVERIFY(rom.calls.isEmpty());
    QCOMPARE(m_shown, QStringList{FirmwareFlash::kInvalidImageText});

    // Unplugged since it was found.
    rom.loaderAfterWaits = -1;
    QCOMPARE(flash(rom, imageBytes(4001), true), FirmwareFlash::Outcome::LoaderMissing);
    QVERIFY(rom.calls.isEmpty());
    QVERIFY(rom.waits.isEmpty());
    QCOMPARE(m_shown, QStringList{FirmwareFlash::kLoaderMissingText});
}

QTEST_GUILESS_MAIN(tst_FirmwareFlash)
#include "tst_firmware_flash.moc"
