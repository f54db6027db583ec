// A firmware image file as the update unpacks it, flashed into a stand-in loader that checks
// every block it is given against the image's own payload.
#include "firmware_flash.h"
#include "fuzz_support.h"

#include <QFile>

#include <cstring>

namespace {

class CheckingRom : public FirmwareRom {
public:
    QString firstPadHardwareId() override { return QStringLiteral("pad"); }
    bool deviceExists(const QString &) override { return true; }
    bool canRebootIntoLoader() override { return true; }
    void resetIntoLoader(const QString &) override {}
    void eraseRom(const QString &) override {}
    bool bornRom(const QString &, const Block &block, int length, int offset) override
    {
        fuzz::require(length >= 0 && length <= kMaxBlock, "a block fits the loader's limit");
        fuzz::require(offset >= 0 && qint64(offset) + length <= payload.size(), "a block lies inside the payload");
        fuzz::require(std::memcmp(block.data(), payload.constData() + offset, size_t(length)) == 0,
                      "a block carries the image's bytes");
        return true;
    }
    bool checkRom(const QString &, uint32_t, uint32_t) override { return true; }
    void finishUpdateRom(const QString &) override {}

    QByteArray payload;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzz::privateDir() + QStringLiteral("/firmware.bin");
    {
        QFile file(path);
        fuzz::require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the image file is written");
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    CheckingRom rom;
    FirmwareFlash flash(rom, path);
    flash.setWait([](int) {});
    FirmwareFlash::ImageFault fault = FirmwareFlash::ImageFault::None;
    if (flash.loadFirmwareImage(&fault)) {
        fuzz::require(flash.length() >= 0 && flash.length() <= FirmwareFlash::kMaxPayload, "an accepted length fits");
        // A short file reads as zeros after its end.
        QByteArray image = fuzz::bytes(data, size).left(FirmwareFlash::kImageSize);
        image.append(QByteArray(FirmwareFlash::kImageSize - image.size(), '\0'));
        rom.payload = image.mid(FirmwareFlash::kPayloadOffset, int(flash.length()));
        flash.flashFirmware();
    }
    return 0;
}
