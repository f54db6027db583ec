// The virtual pads and their state folder, shared by the library and padctl.
//
// Folder layout (all texts UTF-8):
//   devices                      one pad per line, tab-separated: DeviceID, Version, SN, MASK,
//                                mode ("pad" or "loader"), HardwareID, DevicePath
//   pads/<DeviceID>/memory       the pad's 64 KiB memory, raw
//   pads/<DeviceID>/properties   one property per line: decimal id, blank, hex bytes
//   pads/<DeviceID>/notifications one notification per line: ISO time (UTC, ms), blank, 0xVVVV
//   padio.sock                   the running library's control socket
// A pad's folder outlives its unplugging, so plugging the same DeviceID again brings its memory back.
#ifndef PADIO_PAD_STORE_H
#define PADIO_PAD_STORE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace padio {

constexpr int kMemorySize = 65536;
constexpr int kMaxPads = 20;
constexpr int kMaxNotifications = 1000; // older ones are dropped
constexpr long long kMaxReadsToFail = 1000000;
// A firmware payload starts with this mark and the 8-bit version text the pad reports after the
// update; the loader holds payloads up to this size.
constexpr char kFirmwareMark[] = "PXFW";
constexpr size_t kFirmwareMarkSize = sizeof kFirmwareMark - 1;
constexpr int kMaxFirmwarePayload = 65849;

extern const char kPadHardwareId[];    // the first PX-ORB42 interface
extern const char kLoaderHardwareId[]; // a pad restarted into its firmware loader
extern const char kDefaultDeviceId[];

struct PadInfo {
    std::string deviceId;
    std::string version;
    std::string sn;
    std::string mask;
    std::string hardwareId;
    std::string devicePath;
    bool inLoader = false;
};

struct Notification {
    int64_t unixMs = 0;
    uint16_t value = 0;
};

// $PADIO_HOME, else $XDG_STATE_HOME/padio, else ~/.local/state/padio (the account's home when
// HOME is unset); empty when there is no home at all, and then no store opens.
std::string stateFolder();

// Empty when the text is acceptable, otherwise why not.
std::string checkDeviceId(const std::string &id);
std::string checkText(const char *what, const std::string &value, size_t maxBytes, bool mayBeEmpty);

bool sameHardwareId(const std::string &a, const std::string &b); // ASCII case-insensitive, as Windows compares them

std::string toHex(const uint8_t *bytes, size_t count);
bool fromHex(const std::string &text, std::vector<uint8_t> *bytes);
std::string formatTime(int64_t unixMs);

uint32_t crc32(const uint8_t *bytes, size_t count);

// Writes a whole file through a temporary beside it and a rename, so readers never see half of it.
bool writeFileAtomically(const std::string &path, const std::string &content, std::string *error);

class PadStore {
public:
    explicit PadStore(std::string folder);

    const std::string &folder() const { return m_folder; }

    // Reads the device list. A folder without one (first use) gets a single PX-ORB42 pad.
    bool open(std::string *error);

    const std::vector<PadInfo> &pads() const { return m_pads; }
    PadInfo *findById(const std::string &id);
    // Only pads in normal mode answer to their HardwareID; a pad in its loader answers to the loader's.
    PadInfo *findByHardwareId(const std::string &hardwareId);
    PadInfo *padInLoader();

    // Missing fields get defaults (DeviceID, SN, Version, MASK, then a HardwareID and DevicePath
    // that no other plugged pad uses).
    bool plug(PadInfo pad, PadInfo *plugged, std::string *error);
    bool unplug(const std::string &id, std::string *error);
    bool saveDevices(std::string *error);

    // Loaded from the pad's folder on first use.
    std::vector<uint8_t> &memory(const std::string &id);
    bool saveMemory(const std::string &id, std::string *error);
    std::map<int32_t, std::vector<uint8_t>> &properties(const std::string &id);
    bool saveProperties(const std::string &id, std::string *error);

    bool addNotification(const std::string &id, uint16_t value, std::string *error);
    std::vector<Notification> notifications(const std::string &id) const;

    // The next count reads of the pad (memory or property) fail, as a pad that stops answering
    // does; 0 lets them succeed again. Kept in memory only: it ends with the library that holds it.
    void failReads(const std::string &id, long long count);
    // True when this read is one of those, which it uses up.
    bool takeFailedRead(const std::string &id);

    static std::string formatPad(const PadInfo &pad); // the devices-file line, also used on the wire
    static bool parsePad(const std::string &line, PadInfo *pad);

private:
    std::string padFolder(const std::string &id) const;
    bool ensurePadFolder(const std::string &id, std::string *error) const;

    std::string m_folder;
    std::vector<PadInfo> m_pads;
    std::map<std::string, std::vector<uint8_t>> m_memory;
    std::map<std::string, std::map<int32_t, std::vector<uint8_t>>> m_properties;
    std::map<std::string, long long> m_readsToFail;
};

} // namespace padio

#endif
