// Writing a new firmware image into the pad: restart it into its loader, wait for the loader,
// erase, write the image in blocks, have the library verify it, restart the pad.
//
// Runs on the UI thread. The waits keep the UI alive by processing events, so anything else may
// run during a flash (device events, page commands); whoever owns the flash must not be deleted
// from inside those events (see updateDlg::flashRunning).
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <functional>

// What the flash needs of the device library. Every result is false where the library lacks the
// function, which is never called then.
class FirmwareRom {
public:
    // The block buffer the library reads a block from; a block uses at most kMaxBlock bytes of it.
    static constexpr int kBlockBufferSize = 2048;
    static constexpr int kMaxBlock = 2000;
    using Block = std::array<uint8_t, kBlockBufferSize>;

    virtual ~FirmwareRom() = default;
    // HardwareID of the first connected pad (lowest DeviceID); empty without one.
    virtual QString firstPadHardwareId() = 0;
    virtual bool deviceExists(const QString &hardwareId) = 0;
    // Whether the library can restart a pad into its loader at all (it exports dcRebootRom,
    // which is never called: the restart itself is dcReset with code 1).
    virtual bool canRebootIntoLoader() = 0;
    virtual void resetIntoLoader(const QString &hardwareId) = 0;
    virtual void eraseRom(const QString &loader) = 0;
    virtual bool bornRom(const QString &loader, const Block &block, int length, int offset) = 0;
    virtual bool checkRom(const QString &loader, uint32_t length, uint32_t checkValue) = 0;
    virtual void finishUpdateRom(const QString &loader) = 0;
};

class FirmwareFlash {
public:
    // The image file as the vendor builds it (little-endian fields).
    static constexpr int kImageSize = 67170;
    static constexpr int kMagicOffset = 0;
    static constexpr uint32_t kMagic = 0x1016;
    static constexpr int kReservedOffset = 4;
    static constexpr int kPayloadOffset = 264;
    static constexpr int kLengthOffset = 66113;
    static constexpr int kCheckValueOffset = 66121;
    static constexpr qint64 kMaxPayload = kLengthOffset - kPayloadOffset; // 65849

    // The pad's hardware id while it runs its loader.
    static const QString loaderHardwareId;

    // The onBrowserMsg text that tells the page a pad sits in its loader: a flash was cut short
    // (unplugged, the program ended), and the pad needs a new image before it works again.
    static const QString kPadInLoaderMessage;
    static bool padWaitsInLoader(FirmwareRom &rom) { return rom.deviceExists(loaderHardwareId); }

    // Texts for lb_install. "Do not unplug" shows only from the moment the pad is touched.
    static const QString kFlashingText;
    static const QString kNoPadText;
    static const QString kUnreadableImageText;
    static const QString kForeignImageText;
    static const QString kLoaderMissingText;
    static const QString kWrittenText;
    static const QString kWriteFailedText;
    static const QString kVerifiedText;
    static const QString kVerifyFailedText;
    static const QString kInvalidImageText;

    enum class ImageFault { None, Unreadable, WrongHeader, OutOfBounds };
    enum class Outcome { NoPad, ImageIgnored, ImageRefused, LoaderMissing, Verified, VerificationFailed };

    static const char *outcomeName(Outcome outcome);

    // rom must outlive the flash. imagePath: the unpacked firmware file.
    FirmwareFlash(FirmwareRom &rom, const QString &imagePath);

    // How the flash waits (milliseconds) and shows its progress; by default it processes events
    // (waitProcessingEvents) and shows nothing.
    void setWait(std::function<void(int)> wait) { m_wait = std::move(wait); }
    void setShow(std::function<void(const QString &)> show) { m_show = std::move(show); }

    // Reads the file into image and checks it. The flash says why it stops before touching the
    // pad: no pad, a file it cannot read, a file of some other device, or a file that claims to be
    // ours but cannot fit the loader (OutOfBounds, kInvalidImageText).
    bool loadFirmwareImage(ImageFault *fault = nullptr);
    Outcome flashFirmware();
    // The same flash for a pad that already runs its loader (an earlier flash was cut short):
    // no pad in the device list to restart and no wait for the loader. Every image fault is
    // shown, since the user asked for this flash.
    Outcome flashInLoader();
    // True when the library accepted the last block.
    bool writeFirmwareBlocks();

    // Processes events for the given time, measured on the monotonic clock: a change of the
    // time of day neither stretches nor cuts a wait.
    static void waitProcessingEvents(int milliseconds);

    qint64 length() const;
    uint32_t checkValue() const;

private:
    // Erase, write, verify, restart: the part of a flash the loader does.
    Outcome writeAndVerify();
    uint64_t field(int offset, int bytes) const;

    FirmwareRom &m_rom;
    QString m_imagePath;
    std::function<void(int)> m_wait;
    std::function<void(const QString &)> m_show;
    std::array<uint8_t, kImageSize> image{};
};
