#include "pad_store.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace padio {

const char kPadHardwareId[] = "HID\\Vid_5e1c&Pid_7a92&MI_00";
const char kLoaderHardwareId[] = "HID\\Vid_5e1c&Pid_7a93";
const char kDefaultDeviceId[] = "5E1C7A92";

namespace {

// The wide fields of a device record hold 255 UTF-16 units, one of them the terminating zero.
constexpr size_t kMaxWideText = 254;
constexpr size_t kMaxPropertySize = 2048;

std::string systemError(const std::string &what, const std::string &path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

bool makeFolders(const std::string &path, std::string *error)
{
    std::string partial;
    std::istringstream parts(path);
    std::string part;
    if (!path.empty() && path[0] == '/')
        partial = "/";
    while (std::getline(parts, part, '/')) {
        if (part.empty())
            continue;
        partial += part;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            if (error)
                *error = systemError("cannot create folder", partial);
            return false;
        }
        partial += '/';
    }
    return true;
}

bool readFile(const std::string &path, std::string *content)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    *content = buffer.str();
    return true;
}

std::vector<std::string> split(const std::string &line, char separator)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t end = line.find(separator, start);
        fields.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

std::vector<std::string> lines(const std::string &content)
{
    std::vector<std::string> result;
    for (std::string &line : split(content, '\n')) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] != '#')
            result.push_back(std::move(line));
    }
    return result;
}

bool isAscii(const std::string &text)
{
    for (unsigned char c : text) {
        if (c < 0x20 || c > 0x7e)
            return false;
    }
    return true;
}

int64_t nowUnixMs()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

std::string stateFolder()
{
    const char *home = std::getenv("PADIO_HOME");
    if (home && *home)
        return home;
    const char *state = std::getenv("XDG_STATE_HOME");
    if (state && *state)
        return std::string(state) + "/padio";
    const char *user = std::getenv("HOME");
    if (user && *user)
        return std::string(user) + "/.local/state/padio";
    // Without HOME, the account's own home folder: a fixed name in the shared temporary folder
    // could have been made first by another user, who would then read and write the pads.
    if (const passwd *account = getpwuid(getuid()); account && account->pw_dir && *account->pw_dir)
        return std::string(account->pw_dir) + "/.local/state/padio";
    return std::string();
}

std::string checkDeviceId(const std::string &id)
{
    // It names the pad's folder too, so nothing that could step out of it.
    if (id.empty() || id.size() > 40)
        return "a device id has 1 to 40 characters";
    for (char c : id) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'
            || c == '-';
        if (!ok)
            return "a device id holds only letters, digits, '_' and '-': " + id;
    }
    return {};
}

std::string checkText(const char *what, const std::string &value, size_t maxBytes, bool mayBeEmpty)
{
    if (value.empty() && !mayBeEmpty)
        return std::string(what) + " must not be empty";
    if (value.size() > maxBytes)
        return std::string(what) + " has at most " + std::to_string(maxBytes) + " bytes: " + value;
    for (unsigned char c : value) {
        if (c < 0x20 || c == 0x7f)
            return std::string(what) + " must not hold control characters";
    }
    return {};
}

bool sameHardwareId(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string toHex(const uint8_t *bytes, size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string text(count * 2, '0');
    for (size_t i = 0; i < count; ++i) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 15];
    }
    return text;
}

bool fromHex(const std::string &text, std::vector<uint8_t> *bytes)
{
    if (text.size() % 2 != 0)
        return false;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::vector<uint8_t> result(text.size() / 2);
    for (size_t i = 0; i < result.size(); ++i) {
        const int high = nibble(text[2 * i]), low = nibble(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        result[i] = uint8_t(high << 4 | low);
    }
    *bytes = std::move(result);
    return true;
}

std::string formatTime(int64_t unixMs)
{
    const time_t seconds = time_t(unixMs / 1000);
    tm utc {};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, int(unixMs % 1000));
    return text;
}

uint32_t crc32(const uint8_t *bytes, size_t count)
{
    // The zlib / IEEE 802.3 polynomial, reflected; tools such as `crc32` and Python's zlib agree.
    static uint32_t table[256];
    static const bool filled = [] {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        return true;
    }();
    (void)filled;
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; ++i)
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

bool writeFileAtomically(const std::string &path, const std::string &content, std::string *error)
{
    const std::string temp = path + ".tmp." + std::to_string(getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error)
            *error = systemError("cannot write", temp);
        return false;
    }
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (error)
                *error = systemError("cannot write", temp);
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        done += size_t(n);
    }
    // No fsync: the rename already keeps a crashing program from leaving half a file, and these
    // writes happen on the program's UI thread, where a disk flush per pad write would show.
    if (::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        if (error)
            *error = systemError("cannot replace", path);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

PadStore::PadStore(std::string folder)
    : m_folder(std::move(folder))
{
}

bool PadStore::open(std::string *error)
{
    m_pads.clear();
    m_memory.clear();
    m_properties.clear();
    if (m_folder.empty()) {
        if (error)
            *error = "no state folder: set PADIO_HOME, XDG_STATE_HOME or HOME";
        return false;
    }
    if (!makeFolders(m_folder, error))
        return false;
    std::string content;
    if (!readFile(m_folder + "/devices", &content)) {
        PadInfo first;
        first.deviceId = kDefaultDeviceId;
        return plug(first, nullptr, error);
    }
    for (const std::string &line : lines(content)) {
        PadInfo pad;
        // A hand-edited line that does not parse, or repeats a DeviceID, is left out rather than guessed at.
        if (parsePad(line, &pad) && !findById(pad.deviceId))
            m_pads.push_back(pad);
    }
    return true;
}

PadInfo *PadStore::findById(const std::string &id)
{
    for (PadInfo &pad : m_pads) {
        if (pad.deviceId == id)
            return &pad;
    }
    return nullptr;
}

PadInfo *PadStore::findByHardwareId(const std::string &hardwareId)
{
    if (sameHardwareId(hardwareId, kLoaderHardwareId))
        return padInLoader();
    for (PadInfo &pad : m_pads) {
        if (!pad.inLoader && sameHardwareId(pad.hardwareId, hardwareId))
            return &pad;
    }
    return nullptr;
}

PadInfo *PadStore::padInLoader()
{
    for (PadInfo &pad : m_pads) {
        if (pad.inLoader)
            return &pad;
    }
    return nullptr;
}

bool PadStore::plug(PadInfo pad, PadInfo *plugged, std::string *error)
{
    auto fail = [error](const std::string &why) {
        if (error)
            *error = why;
        return false;
    };
    if (pad.deviceId.empty())
        pad.deviceId = kDefaultDeviceId;
    if (pad.version.empty())
        pad.version = "1.0.3";
    if (pad.sn.empty())
        pad.sn = "PX42" + std::to_string(10000000 + crc32(reinterpret_cast<const uint8_t *>(pad.deviceId.data()),
                                                           pad.deviceId.size()) % 90000000);
    if (pad.mask.empty())
        pad.mask = "01";
    std::string why = checkDeviceId(pad.deviceId);
    if (why.empty())
        why = checkText("the version", pad.version, 17, false);
    if (why.empty())
        why = checkText("the serial number", pad.sn, 14, false);
    if (why.empty())
        why = checkText("the mask", pad.mask, 2, false);
    if (!why.empty())
        return fail(why);
    if (findById(pad.deviceId))
        return fail("a pad with the id " + pad.deviceId + " is already plugged in");
    if (int(m_pads.size()) >= kMaxPads)
        return fail("already " + std::to_string(kMaxPads) + " pads plugged in");

    // Every pad of the model has the same HardwareID on a real machine; here it has to name one pad,
    // so later pads get their DeviceID appended.
    pad.hardwareId = kPadHardwareId;
    for (const PadInfo &other : m_pads) {
        if (sameHardwareId(other.hardwareId, pad.hardwareId))
            pad.hardwareId = std::string(kPadHardwareId) + "&" + pad.deviceId;
    }
    char instance[16];
    std::snprintf(instance, sizeof instance, "%08x",
                  crc32(reinterpret_cast<const uint8_t *>(pad.deviceId.data()), pad.deviceId.size()));
    pad.devicePath = std::string("\\\\?\\hid#vid_5e1c&pid_7a92&mi_00#7&") + instance
        + "&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    pad.inLoader = false;

    m_pads.push_back(pad);
    if (!saveDevices(error)) {
        m_pads.pop_back();
        return false;
    }
    if (plugged)
        *plugged = pad;
    return true;
}

bool PadStore::unplug(const std::string &id, std::string *error)
{
    for (auto it = m_pads.begin(); it != m_pads.end(); ++it) {
        if (it->deviceId == id) {
            const PadInfo removed = *it;
            const auto at = m_pads.erase(it);
            if (!saveDevices(error)) {
                m_pads.insert(at, removed);
                return false;
            }
            return true;
        }
    }
    if (error)
        *error = "no pad with the id " + id;
    return false;
}

bool PadStore::saveDevices(std::string *error)
{
    std::string content = "# DeviceID\tVersion\tSN\tMASK\tmode\tHardwareID\tDevicePath\n";
    for (const PadInfo &pad : m_pads)
        content += formatPad(pad) + "\n";
    return writeFileAtomically(m_folder + "/devices", content, error);
}

std::string PadStore::formatPad(const PadInfo &pad)
{
    return pad.deviceId + '\t' + pad.version + '\t' + pad.sn + '\t' + pad.mask + '\t'
        + (pad.inLoader ? "loader" : "pad") + '\t' + pad.hardwareId + '\t' + pad.devicePath;
}

bool PadStore::parsePad(const std::string &line, PadInfo *pad)
{
    const std::vector<std::string> fields = split(line, '\t');
    if (fields.size() != 7 || (fields[4] != "pad" && fields[4] != "loader"))
        return false;
    PadInfo parsed;
    parsed.deviceId = fields[0];
    parsed.version = fields[1];
    parsed.sn = fields[2];
    parsed.mask = fields[3];
    parsed.inLoader = fields[4] == "loader";
    parsed.hardwareId = fields[5];
    parsed.devicePath = fields[6];
    const bool valid = checkDeviceId(parsed.deviceId).empty() && checkText("", parsed.version, 17, true).empty()
        && checkText("", parsed.sn, 14, true).empty() && checkText("", parsed.mask, 2, true).empty()
        && !parsed.hardwareId.empty() && parsed.hardwareId.size() <= kMaxWideText && isAscii(parsed.hardwareId)
        && parsed.devicePath.size() <= kMaxWideText && isAscii(parsed.devicePath);
    if (valid)
        *pad = parsed;
    return valid;
}

std::string PadStore::padFolder(const std::string &id) const
{
    return m_folder + "/pads/" + id;
}

bool PadStore::ensurePadFolder(const std::string &id, std::string *error) const
{
    return makeFolders(padFolder(id), error);
}

std::vector<uint8_t> &PadStore::memory(const std::string &id)
{
    auto it = m_memory.find(id);
    if (it != m_memory.end())
        return it->second;
    std::string content;
    readFile(padFolder(id) + "/memory", &content);
    std::vector<uint8_t> bytes(content.begin(), content.end());
    bytes.resize(kMemorySize);
    return m_memory.emplace(id, std::move(bytes)).first->second;
}

bool PadStore::saveMemory(const std::string &id, std::string *error)
{
    const std::vector<uint8_t> &bytes = memory(id);
    return ensurePadFolder(id, error)
        && writeFileAtomically(padFolder(id) + "/memory", std::string(bytes.begin(), bytes.end()), error);
}

std::map<int32_t, std::vector<uint8_t>> &PadStore::properties(const std::string &id)
{
    auto it = m_properties.find(id);
    if (it != m_properties.end())
        return it->second;
    std::map<int32_t, std::vector<uint8_t>> values;
    std::string content;
    if (readFile(padFolder(id) + "/properties", &content)) {
        for (const std::string &line : lines(content)) {
            const std::vector<std::string> fields = split(line, ' ');
            std::vector<uint8_t> bytes;
            char *end = nullptr;
            errno = 0;
            const long long key = std::strtoll(fields[0].c_str(), &end, 10);
            const bool keyOk = !fields[0].empty() && *end == '\0' && errno == 0 && key >= INT32_MIN
                && key <= INT32_MAX;
            if (fields.size() == 2 && keyOk && fromHex(fields[1], &bytes) && bytes.size() <= kMaxPropertySize)
                values[int32_t(key)] = std::move(bytes);
        }
    }
    return m_properties.emplace(id, std::move(values)).first->second;
}

bool PadStore::saveProperties(const std::string &id, std::string *error)
{
    std::string content;
    for (const auto &entry : properties(id))
        content += std::to_string(entry.first) + ' ' + toHex(entry.second.data(), entry.second.size()) + '\n';
    return ensurePadFolder(id, error) && writeFileAtomically(padFolder(id) + "/properties", content, error);
}

bool PadStore::addNotification(const std::string &id, uint16_t value, std::string *error)
{
    std::vector<Notification> list = notifications(id);
    list.push_back({nowUnixMs(), value});
    if (list.size() > size_t(kMaxNotifications))
        list.erase(list.begin(), list.end() - kMaxNotifications);
    std::string content;
    for (const Notification &n : list) {
        char value[8];
        std::snprintf(value, sizeof value, "0x%04x", n.value);
        content += std::to_string(n.unixMs) + ' ' + value + '\n';
    }
    return ensurePadFolder(id, error) && writeFileAtomically(padFolder(id) + "/notifications", content, error);
}

void PadStore::failReads(const std::string &id, long long count)
{
    if (count > 0)
        m_readsToFail[id] = count;
    else
        m_readsToFail.erase(id);
}

bool PadStore::takeFailedRead(const std::string &id)
{
    const auto found = m_readsToFail.find(id);
    if (found == m_readsToFail.end())
        return false;
    if (--found->second == 0)
        m_readsToFail.erase(found);
    return true;
}

std::vector<Notification> PadStore::notifications(const std::string &id) const
{
    std::vector<Notification> list;
    std::string content;
    if (!readFile(padFolder(id) + "/notifications", &content))
        return list;
    for (const std::string &line : lines(content)) {
        long long ms = 0;
        unsigned value = 0;
        if (std::sscanf(line.c_str(), "%lld 0x%x", &ms, &value) == 2 && value <= 0xFFFF)
            list.push_back({ms, uint16_t(value)});
    }
    return list;
}

} // namespace padio
