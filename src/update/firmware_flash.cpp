#include "firmware_flash.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstring>

const QString FirmwareFlash::loaderHardwareId = QStringLiteral("HID\\Vid_5e1c&Pid_7a93");

const QString FirmwareFlash::kPadInLoaderMessage = QStringLiteral("firmwareLoaderPresent");

const QString FirmwareFlash::kFlashingText = QStringLiteral("正在更新固件，请勿插拔鼠标");
const QString FirmwareFlash::kNoPadText =
    QStringLiteral("No pad to update was found, so the firmware was not changed. Connect the pad and choose Retry.");
const QString FirmwareFlash::kUnreadableImageText =
    QStringLiteral("The firmware image could not be read, so the pad was not changed.");
const QString FirmwareFlash::kForeignImageText =
    QStringLiteral("The firmware package is not meant for this pad, so the pad was not changed.");
const QString FirmwareFlash::kLoaderMissingText = QStringLiteral("鼠标更新失败。。。");
const QString FirmwareFlash::kWrittenText = QStringLiteral("更新成功");
const QString FirmwareFlash::kWriteFailedText = QStringLiteral("更新失败");
const QString FirmwareFlash::kVerifiedText = QStringLiteral("校验成功,启动设备。。。");
const QString FirmwareFlash::kVerifyFailedText = QStringLiteral("校验失败，请重新更新");
const QString FirmwareFlash::kInvalidImageText = QStringLiteral("固件文件无效，鼠标未更新");

namespace {

// The loader takes a few seconds to come up after the restart; a slow pad gets two more chances
// (13 s in all) before the flash gives up.
constexpr int kFirstLoaderWaitMs = 4000;
constexpr int kSecondLoaderWaitMs = 4000;
constexpr int kLastLoaderWaitMs = 5000;
constexpr int kAfterEraseMs = 1000;
constexpr int kAfterBlockMs = 20;
constexpr int kBeforeFinishMs = 100;
// Longest stretch the UI goes without a look at its events during a wait.
constexpr int kEventPassMs = 100;

} // namespace

FirmwareFlash::FirmwareFlash(FirmwareRom &rom, const QString &imagePath)
    : m_rom(rom), m_imagePath(imagePath), m_wait(&FirmwareFlash::waitProcessingEvents), m_show([](const QString &) {})
{
}

const char *FirmwareFlash::outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::NoPad: return "no pad";
    case Outcome::ImageIgnored: return "image ignored";
    case Outcome::ImageRefused: return "image refused";
    case Outcome::LoaderMissing: return "loader missing";
    case Outcome::Verified: return "verified";
    case Outcome::VerificationFailed: return "verification failed";
    }
    return "?";
}

uint64_t FirmwareFlash::field(int offset, int bytes) const
{
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | image[size_t(offset + i)];
    return value;
}

qint64 FirmwareFlash::length() const
{
    return qint64(field(kLengthOffset, 8));
}

uint32_t FirmwareFlash::checkValue() const
{
    return uint32_t(field(kCheckValueOffset, 4));
}

bool FirmwareFlash::loadFirmwareImage(ImageFault *fault)
{
    ImageFault found = ImageFault::None;
    QFile file(m_imagePath);
    if (!file.open(QIODevice::ReadOnly)) {
        found = ImageFault::Unreadable;
    } else {
        // One byte more than fits tells a file that is too long without reading all of it.
        const QByteArray bytes = file.read(kImageSize + 1);
        image.fill(0);
        std::memcpy(image.data(), bytes.constData(), size_t(std::min<int>(bytes.size(), kImageSize)));
        if (field(kMagicOffset, 4) != kMagic || field(kReservedOffset, 4) != 0)
            found = ImageFault::WrongHeader;
        // The block loop reads length bytes from the payload: more would read past the image.
        else if (bytes.size() > kImageSize || length() < 0 || length() > kMaxPayload)
            found = ImageFault::OutOfBounds;
    }
    if (fault)
        *fault = found;
    return found == ImageFault::None;
}

FirmwareFlash::Outcome FirmwareFlash::flashFirmware()
{
    const QString pad = m_rom.firstPadHardwareId();
    if (pad.isEmpty() || !m_rom.deviceExists(pad)) {
        m_show(kNoPadText);
        return Outcome::NoPad;
    }
    ImageFault fault = ImageFault::None;
    if (!loadFirmwareImage(&fault)) {
        switch (fault) {
        case ImageFault::Unreadable:
            m_show(kUnreadableImageText);
            return Outcome::ImageIgnored;
        case ImageFault::WrongHeader:
            m_show(kForeignImageText);
            return Outcome::ImageIgnored;
        default:
            m_show(kInvalidImageText);
            return Outcome::ImageRefused;
        }
    }

    m_show(kFlashingText);
    if (m_rom.canRebootIntoLoader())
        m_rom.resetIntoLoader(pad);
    m_wait(kFirstLoaderWaitMs);
    if (!m_rom.deviceExists(loaderHardwareId))
        m_wait(kSecondLoaderWaitMs);
    if (!m_rom.deviceExists(loaderHardwareId)) {
        m_wait(kLastLoaderWaitMs);
        if (!m_rom.deviceExists(loaderHardwareId)) {
            m_show(kLoaderMissingText);
            return Outcome::LoaderMissing;
        }
    }

    return writeAndVerify();
}

FirmwareFlash::Outcome FirmwareFlash::flashInLoader()
{
    if (!loadFirmwareImage()) {
        m_show(kInvalidImageText);
        return Outcome::ImageRefused;
    }
    // It may have been unplugged since it was found.
    if (!m_rom.deviceExists(loaderHardwareId)) {
        m_show(kLoaderMissingText);
        return Outcome::LoaderMissing;
    }
    m_show(kFlashingText);
    return writeAndVerify();
}

FirmwareFlash::Outcome FirmwareFlash::writeAndVerify()
{
    m_rom.eraseRom(loaderHardwareId);
    m_wait(kAfterEraseMs);
    m_show(writeFirmwareBlocks() ? kWrittenText : kWriteFailedText);

    // The library checks what it holds, whatever the writes said.
    if (!m_rom.checkRom(loaderHardwareId, uint32_t(length()), checkValue())) {
        m_show(kVerifyFailedText);
        return Outcome::VerificationFailed;
    }
    m_show(kVerifiedText);
    m_wait(kBeforeFinishMs);
    m_rom.finishUpdateRom(loaderHardwareId);
    return Outcome::Verified;
}

bool FirmwareFlash::writeFirmwareBlocks()
{
    // One block more than whole blocks fit: a length that is a multiple of the block size ends
    // with a call of length 0 at the payload's end, and that call's result is the one that counts.
    const qint64 total = length();
    qint64 blocks = total / FirmwareRom::kMaxBlock + 1;
    qint64 remaining = total;
    qint64 offset = 0;
    bool accepted = false;
    FirmwareRom::Block block;
    while (blocks > 0) {
        const int blockLength = int(std::min<qint64>(remaining, FirmwareRom::kMaxBlock));
        block.fill(0);
        std::memcpy(block.data(), image.data() + kPayloadOffset + offset, size_t(blockLength));
        accepted = m_rom.bornRom(loaderHardwareId, block, blockLength, int(offset));
        remaining -= FirmwareRom::kMaxBlock;
        m_wait(kAfterBlockMs);
        offset += FirmwareRom::kMaxBlock;
        --blocks;
    }
    return accepted;
}

void FirmwareFlash::waitProcessingEvents(int milliseconds)
{
    QElapsedTimer clock; // monotonic
    clock.start();
    // Wakes the blocking pass below at least every kEventPassMs, so an idle UI does not spin
    // and a wait ends on time.
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    for (qint64 left = milliseconds; left > 0; left = milliseconds - clock.elapsed()) {
        wake.start(int(std::min<qint64>(left, kEventPassMs)));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}
