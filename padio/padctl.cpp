// padctl: plugs, unplugs and feeds the virtual pads. It talks to the library inside a running
// program through the control socket, and edits the state folder itself when nothing listens.
#include "control.h"
#include "pad_store.h"
#include "padio.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace padio;

namespace {

constexpr int kUsage = 2;
constexpr int kFailed = 1;
constexpr int kReplyTimeoutMs = 5000;
// The demo reports at the rate of a full-speed USB pad polled every millisecond.
constexpr unsigned long long kDemoHz = 1000;

// Update image layout read by the program's firmware flashing.
constexpr size_t kImageSize = 66125;
constexpr size_t kPayloadOffset = 264;
constexpr size_t kLengthOffset = 66113;
constexpr size_t kCheckOffset = 66121;
constexpr size_t kMaxPayload = kLengthOffset - kPayloadOffset;
static_assert(kMaxPayload == size_t(kMaxFirmwarePayload), "the image must fit the loader");

const char kHelp[] =
    "usage: padctl COMMAND [ARGUMENTS]\n"
    "\n"
    "Virtual PX-ORB42 pads for vexa. State folder: $PADIO_HOME, else $XDG_STATE_HOME/padio,\n"
    "else ~/.local/state/padio. While vexa runs, commands go to it and its page sees the change.\n"
    "\n"
    "  list                           the plugged pads\n"
    "  plug [--id ID] [--sn SN] [--version V] [--mask M]\n"
    "                                 plug a pad in (defaults: id 5E1C7A92, version 1.0.3, mask 01)\n"
    "  unplug ID                      unplug a pad (its memory stays for the next plug)\n"
    "  data ID HEX16                  send one 8-byte report, e.g. 0001020304050607 (vexa must run)\n"
    "  stream ID HZ SECONDS           send reports at HZ per second (vexa must run); each report\n"
    "                                 holds a sequence number (bytes 0-3) and the low 32 bits of\n"
    "                                 the wall-clock send time in microseconds (bytes 4-7), both\n"
    "                                 little-endian\n"
    "  demo ID SECONDS                send reports at 1000 per second (vexa must run) that play the\n"
    "                                 pad like a person: sticks in arcs, buttons pressed and\n"
    "                                 released, triggers squeezed. Report layout: bytes 0-1 the\n"
    "                                 buttons, one bit each, little-endian (A B X Y LB RB View Menu\n"
    "                                 LS RS Up Down Left Right Home, bit 15 unused); bytes 2-5 left\n"
    "                                 stick x, y, right stick x, y (0 left/up, 128 centre, 255\n"
    "                                 right/down); bytes 6-7 left and right trigger (0 released,\n"
    "                                 255 fully squeezed); the last report is at rest\n"
    "  mem ID ADDR SIZE               hex dump of SIZE bytes of memory from ADDR (hexadecimal)\n"
    "  notifications ID               the notifications the pad received\n"
    "  fail-reads ID [COUNT]          make the pad's next COUNT reads (memory or property; default\n"
    "                                 1) fail, as a pad that stops answering does; 0 lets reads\n"
    "                                 succeed again (vexa must run)\n"
    "  firmware FILE VERSION [LENGTH] write an update image whose payload of LENGTH bytes\n"
    "                                 (default 20000) carries VERSION\n"
    "\n"
    "Exit status: 0 done, 1 failed (unknown pad, vexa not running, ...), 2 bad arguments.\n";

int usage(const std::string &why)
{
    std::fprintf(stderr, "padctl: %s\n(padctl --help lists the commands)\n", why.c_str());
    return kUsage;
}

int failed(const std::string &why)
{
    std::fprintf(stderr, "padctl: %s\n", why.c_str());
    return kFailed;
}

bool parseUnsigned(const std::string &text, int base, unsigned long long max, unsigned long long *value)
{
    std::string digits = text;
    if (base == 16 && digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 16 || digits[0] == '-' || digits[0] == '+')
        return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long long result = std::strtoull(digits.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || result > max)
        return false;
    *value = result;
    return true;
}

// A connection to the running library, or the state folder when there is none.
class Target {
public:
    Target()
        : m_store(stateFolder())
    {
        m_fd = connectControl(m_store.folder());
    }
    ~Target()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Target(const Target &) = delete;
    Target &operator=(const Target &) = delete;

    bool live() const { return m_fd >= 0; }
    const std::string &folder() const { return m_store.folder(); }

    // The reply's first line in *first; for list-like replies the rest in *more.
    bool ask(const std::string &request, std::string *first, std::vector<std::string> *more, std::string *error)
    {
        std::string reply;
        if (m_fd >= 0) {
            if (!sendAll(m_fd, request + "\n", kReplyTimeoutMs) || !m_reader.readLine(m_fd, first, kReplyTimeoutMs)) {
                *error = "vexa did not answer on its control socket";
                return false;
            }
            if (more && first->compare(0, 3, "ok ") == 0) {
                const long count = std::strtol(first->c_str() + 3, nullptr, 10);
                for (long i = 0; i < count; ++i) {
                    std::string line;
                    if (!m_reader.readLine(m_fd, &line, kReplyTimeoutMs)) {
                        *error = "vexa's reply ended early";
                        return false;
                    }
                    more->push_back(line);
                }
            }
        } else {
            if (!m_opened && !m_store.open(error))
                return false;
            m_opened = true;
            RequestEffects ignored;
            reply = handleRequest(m_store, request, {}, &ignored);
            size_t end = reply.find('\n');
            *first = reply.substr(0, end);
            while (more && end != std::string::npos) {
                const size_t next = reply.find('\n', end + 1);
                more->push_back(reply.substr(end + 1, next == std::string::npos ? std::string::npos : next - end - 1));
                end = next;
            }
        }
        if (first->compare(0, 6, "error ") == 0) {
            *error = first->substr(6);
            return false;
        }
        if (first->compare(0, 2, "ok") != 0) {
            *error = "unexpected reply: " + *first;
            return false;
        }
        return true;
    }

private:
    PadStore m_store;
    bool m_opened = false;
    int m_fd = -1;
    LineReader m_reader;
};

void printPad(const std::string &line)
{
    PadInfo pad;
    if (!PadStore::parsePad(line, &pad)) {
        std::printf("%s\n", line.c_str());
        return;
    }
    std::printf("%-10s %-8s %-14s %-4s %-6s %s  %s\n", pad.deviceId.c_str(), pad.version.c_str(), pad.sn.c_str(),
                pad.mask.c_str(), pad.inLoader ? "loader" : "pad", pad.hardwareId.c_str(), pad.devicePath.c_str());
}

int list(Target &target)
{
    std::string first, error;
    std::vector<std::string> pads;
    if (!target.ask("list", &first, &pads, &error))
        return failed(error);
    if (pads.empty())
        std::printf("no pads plugged in\n");
    for (const std::string &pad : pads)
        printPad(pad);
    return 0;
}

int plug(Target &target, const std::vector<std::string> &args)
{
    PadInfo pad;
    for (size_t i = 0; i < args.size(); i += 2) {
        if (i + 1 >= args.size())
            return usage("plug: " + args[i] + " needs a value");
        const std::string &value = args[i + 1];
        std::string why;
        if (args[i] == "--id") {
            pad.deviceId = value;
            why = checkDeviceId(value);
        } else if (args[i] == "--sn") {
            pad.sn = value;
            why = checkText("the serial number", value, PADIO_REC_SN_SIZE, false);
        } else if (args[i] == "--version") {
            pad.version = value;
            why = checkText("the version", value, PADIO_REC_VERSION_SIZE, false);
        } else if (args[i] == "--mask") {
            pad.mask = value;
            why = checkText("the mask", value, PADIO_REC_MASK_SIZE, false);
        } else {
            return usage("plug: unknown option " + args[i]);
        }
        if (!why.empty())
            return usage("plug: " + why);
    }
    std::string first, error;
    if (!target.ask("plug\t" + pad.deviceId + "\t" + pad.version + "\t" + pad.sn + "\t" + pad.mask, &first, nullptr,
                    &error))
        return failed(error);
    std::printf("plugged in: ");
    printPad(first.substr(3));
    return 0;
}

int unplug(Target &target, const std::string &id)
{
    std::string first, error;
    if (!target.ask("unplug\t" + id, &first, nullptr, &error))
        return failed(error);
    std::printf("unplugged %s\n", id.c_str());
    return 0;
}

int data(Target &target, const std::string &id, const std::string &hex)
{
    std::vector<uint8_t> bytes;
    if (hex.size() != 16 || !fromHex(hex, &bytes))
        return usage("data: a report is 16 hexadecimal digits, e.g. 0001020304050607: " + hex);
    if (!target.live())
        return failed("no running vexa has the virtual pad loaded (nothing listens in " + target.folder() + ")");
    std::string first, error;
    if (!target.ask("data\t" + id + "\t" + hex, &first, nullptr, &error))
        return failed(error);
    if (first != "ok 1")
        std::fprintf(stderr, "padctl: note: no data callback listens to the pad %s\n", id.c_str());
    return 0;
}

// Sends makeReport(0), makeReport(1), ... at hz per second for seconds, then prints a summary.
template <typename MakeReport>
int sendPaced(Target &target, const std::string &id, unsigned long long hz, double seconds, MakeReport makeReport)
{
    if (!target.live())
        return failed("no running vexa has the virtual pad loaded (nothing listens in " + target.folder() + ")");

    const long long total = std::llround(double(hz) * seconds);
    const long long periodNs = 1000000000LL / (long long)hz;
    timespec start {};
    clock_gettime(CLOCK_MONOTONIC, &start);
    long long sent = 0, delivered = 0;
    for (; sent < total; ++sent) {
        const long long dueNs = (long long)start.tv_sec * 1000000000LL + start.tv_nsec + sent * periodNs;
        const timespec due {time_t(dueNs / 1000000000LL), long(dueNs % 1000000000LL)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
        }
        uint8_t report[8] = {};
        makeReport(sent, report);
        std::string first, error;
        if (!target.ask("data\t" + id + "\t" + toHex(report, 8), &first, nullptr, &error)) {
            std::printf("sent %lld reports\n", sent);
            return failed(error);
        }
        if (first == "ok 1")
            ++delivered;
    }
    timespec stop {};
    clock_gettime(CLOCK_MONOTONIC, &stop);
    const double elapsed = double(stop.tv_sec - start.tv_sec) + double(stop.tv_nsec - start.tv_nsec) / 1e9;
    std::printf("sent %lld reports in %.3f s (%.1f per second), %lld delivered to a data callback\n", sent, elapsed,
                elapsed > 0 ? double(sent) / elapsed : 0.0, delivered);
    return 0;
}

bool parseSeconds(const std::string &text, double *seconds)
{
    char *end = nullptr;
    errno = 0;
    *seconds = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && errno == 0 && *seconds > 0 && *seconds <= 3600;
}

int stream(Target &target, const std::string &id, const std::string &hzText, const std::string &secondsText)
{
    unsigned long long hz = 0;
    if (!parseUnsigned(hzText, 10, 10000, &hz) || hz == 0)
        return usage("stream: HZ is a whole number from 1 to 10000: " + hzText);
    double seconds = 0;
    if (!parseSeconds(secondsText, &seconds))
        return usage("stream: SECONDS is a number above 0 and at most 3600: " + secondsText);
    return sendPaced(target, id, hz, seconds, [](long long sent, uint8_t *report) {
        timespec wall {};
        clock_gettime(CLOCK_REALTIME, &wall);
        const uint32_t micros = uint32_t((long long)wall.tv_sec * 1000000LL + wall.tv_nsec / 1000);
        const uint32_t sequence = uint32_t(sent);
        const uint8_t bytes[8] = {uint8_t(sequence), uint8_t(sequence >> 8), uint8_t(sequence >> 16),
                                  uint8_t(sequence >> 24), uint8_t(micros), uint8_t(micros >> 8),
                                  uint8_t(micros >> 16), uint8_t(micros >> 24)};
        std::memcpy(report, bytes, 8);
    });
}

// The demo's report at t seconds: a loop of a few seconds a player might make. The left stick
// walks in a slow circle that widens and narrows, the right stick aims in a figure of eight,
// the face buttons are tapped in turn (a tap every 0.3 s, held 0.12 s) with a shoulder button
// or the d-pad now and then, and the triggers are squeezed and let go out of step.
void demoReport(double t, uint8_t *report)
{
    constexpr double kPi = 3.14159265358979323846;
    auto axis = [](double v) { return uint8_t(std::lround(127.5 + 127.5 * std::max(-1.0, std::min(1.0, v)))); };
    auto squeeze = [](double v) { return uint8_t(std::lround(255.0 * std::max(0.0, std::min(1.0, v)))); };

    // Buttons: A B X Y by turns; every fourth tap adds a shoulder, every seventh a d-pad way;
    // every 5 s the sticks are clicked, and Home once a loop.
    enum : uint16_t { A = 1, B = 2, X = 4, Y = 8, LB = 16, RB = 32, LS = 256, RS = 512, Up = 1024, Home = 16384 };
    const long long tap = (long long)std::floor(t / 0.3);
    const bool held = t - double(tap) * 0.3 < 0.12;
    uint16_t buttons = 0;
    if (held) {
        buttons |= uint16_t(A << (tap % 4));
        if (tap % 4 == 3)
            buttons |= (tap / 4) % 2 ? RB : LB;
        if (tap % 7 == 5)
            buttons |= uint16_t(Up << ((tap / 7) % 4));
        if (tap % 17 == 16)
            buttons |= LS | RS;
        if (tap % 40 == 20)
            buttons |= Home;
    }
    const double radius = 0.55 + 0.45 * std::sin(2 * kPi * t / 7.0);
    report[0] = uint8_t(buttons);
    report[1] = uint8_t(buttons >> 8);
    report[2] = axis(radius * std::cos(2 * kPi * t / 2.5));
    report[3] = axis(radius * std::sin(2 * kPi * t / 2.5));
    report[4] = axis(0.9 * std::cos(2 * kPi * t / 3.0));
    report[5] = axis(0.6 * std::sin(4 * kPi * t / 3.0));
    // Triggers: a squeeze of about 0.6 s each, the right one after the left.
    const auto pull = [](double phase) { return phase < 0.6 ? std::sin(kPi * phase / 0.6) : 0.0; };
    report[6] = squeeze(pull(std::fmod(t, 1.6)));
    report[7] = squeeze(pull(std::fmod(t + 0.8, 1.6)));
}

int demo(Target &target, const std::string &id, const std::string &secondsText)
{
    double seconds = 0;
    if (!parseSeconds(secondsText, &seconds))
        return usage("demo: SECONDS is a number above 0 and at most 3600: " + secondsText);
    // The last report lets go of everything, so what shows the pad comes to rest with it.
    const long long last = std::llround(double(kDemoHz) * seconds) - 1;
    return sendPaced(target, id, kDemoHz, seconds, [last](long long sent, uint8_t *report) {
        static const uint8_t kRest[8] = {0, 0, 128, 128, 128, 128, 0, 0};
        if (sent == last)
            std::memcpy(report, kRest, 8);
        else
            demoReport(double(sent) / double(kDemoHz), report);
    });
}

int mem(Target &target, const std::string &id, const std::string &addressText, const std::string &sizeText)
{
    unsigned long long address = 0, size = 0;
    if (!parseUnsigned(addressText, 16, kMemorySize - 1, &address))
        return usage("mem: ADDR is a hexadecimal address below 10000: " + addressText);
    if (!parseUnsigned(sizeText, 10, kMemorySize, &size))
        return usage("mem: SIZE is a whole number of bytes up to 65536: " + sizeText);
    if (address + size > kMemorySize)
        return usage("mem: the pad's memory ends at 10000 (hexadecimal)");
    std::string first, error;
    if (!target.ask("mem\t" + id + "\t" + std::to_string(address) + "\t" + std::to_string(size), &first, nullptr,
                    &error))
        return failed(error);
    std::vector<uint8_t> bytes;
    if (!fromHex(first.substr(std::min<size_t>(first.size(), 3)), &bytes))
        return failed("unexpected reply: " + first);
    for (size_t row = 0; row < bytes.size(); row += 16) {
        std::printf("%04llx ", address + row);
        std::string text;
        for (size_t i = row; i < row + 16; ++i) {
            if (i < bytes.size()) {
                std::printf(" %02x", bytes[i]);
                text += bytes[i] >= 0x20 && bytes[i] < 0x7f ? char(bytes[i]) : '.';
            } else {
                std::printf("   ");
            }
        }
        std::printf("  |%s|\n", text.c_str());
    }
    return 0;
}

int notifications(Target &target, const std::string &id)
{
    std::string first, error;
    std::vector<std::string> lines;
    if (!target.ask("notifications\t" + id, &first, &lines, &error))
        return failed(error);
    if (lines.empty())
        std::printf("no notifications\n");
    for (const std::string &line : lines) {
        long long ms = 0;
        unsigned value = 0;
        if (std::sscanf(line.c_str(), "%lld 0x%x", &ms, &value) == 2)
            std::printf("%s  0x%04x  type %u data %u\n", formatTime(ms).c_str(), value, value & 0xFF, value >> 8);
    }
    return 0;
}

int failReads(Target &target, const std::string &id, const std::string &countText)
{
    unsigned long long count = 1;
    if (!countText.empty() && !parseUnsigned(countText, 10, (unsigned long long)kMaxReadsToFail, &count))
        return usage("fail-reads: COUNT is a whole number from 0 to " + std::to_string(kMaxReadsToFail) + ": "
                     + countText);
    // Only the running library reads the pad, and it keeps the count in memory.
    if (!target.live())
        return failed("no running vexa has the virtual pad loaded (nothing listens in " + target.folder() + ")");
    std::string first, error;
    if (!target.ask("fail-reads\t" + id + "\t" + std::to_string(count), &first, nullptr, &error))
        return failed(error);
    if (count == 0)
        std::printf("reads of %s succeed again\n", id.c_str());
    else
        std::printf("the next %llu read%s of %s will fail\n", count, count == 1 ? "" : "s", id.c_str());
    return 0;
}

int firmware(const std::string &file, const std::string &version, const std::string &lengthText)
{
    std::string why = checkText("the version", version, PADIO_REC_VERSION_SIZE, false);
    if (!why.empty())
        return usage("firmware: " + why);
    unsigned long long length = 20000;
    const bool lengthOk = lengthText.empty()
        || (parseUnsigned(lengthText, 10, kMaxPayload, &length) && length >= kFirmwareMarkSize + PADIO_REC_VERSION_SIZE);
    if (!lengthOk)
        return usage("firmware: LENGTH is a whole number from 21 to " + std::to_string(kMaxPayload));
    std::string image(kImageSize, '\0');
    auto put = [&image](size_t offset, uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            image[offset + size_t(i)] = char(value >> (8 * i));
    };
    put(0, PADIO_MODEL, 4);
    std::memcpy(&image[kPayloadOffset], kFirmwareMark, kFirmwareMarkSize);
    std::memcpy(&image[kPayloadOffset + kFirmwareMarkSize], version.data(), version.size());
    for (size_t i = kFirmwareMarkSize + PADIO_REC_VERSION_SIZE; i < length; ++i)
        image[kPayloadOffset + i] = char((i * 131 + 7) >> 3);
    const uint32_t check = crc32(reinterpret_cast<const uint8_t *>(&image[kPayloadOffset]), size_t(length));
    put(kLengthOffset, length, 8);
    put(kCheckOffset, check, 4);
    // The image goes in by rename, which would replace a FIFO, a device node or a link by a
    // plain file; only a regular file (or nothing) is replaced.
    struct stat status;
    if (::lstat(file.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        return failed("firmware: " + file + " is not a regular file");
    if (!writeFileAtomically(file, image, &why))
        return failed(why);
    std::printf("wrote %s: version %s, payload %llu bytes, check value 0x%08x\n", file.c_str(), version.c_str(),
                length, check);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return usage("no command given");
    const std::string &command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kHelp, stdout);
        return 0;
    }
    const size_t count = args.size() - 1;
    auto wants = [&](size_t n) { return count == n; };
    auto badCount = [&](const char *shape) { return usage(std::string("usage: padctl ") + shape); };
    // A malformed id is a usage error; a well-formed one that names no pad is found out later.
    const bool takesId = command == "unplug" || command == "data" || command == "stream" || command == "demo"
        || command == "mem"
        || command == "notifications" || command == "fail-reads";
    if (takesId && count >= 1 && !checkDeviceId(args[1]).empty())
        return usage(command + ": " + checkDeviceId(args[1]));

    if (command == "firmware") {
        if (count != 2 && count != 3)
            return badCount("firmware FILE VERSION [LENGTH]");
        return firmware(args[1], args[2], count == 3 ? args[3] : std::string());
    }

    Target target;
    if (command == "list")
        return wants(0) ? list(target) : badCount("list");
    if (command == "plug")
        return plug(target, std::vector<std::string>(args.begin() + 1, args.end()));
    if (command == "unplug")
        return wants(1) ? unplug(target, args[1]) : badCount("unplug ID");
    if (command == "data")
        return wants(2) ? data(target, args[1], args[2]) : badCount("data ID HEX16");
    if (command == "stream")
        return wants(3) ? stream(target, args[1], args[2], args[3]) : badCount("stream ID HZ SECONDS");
    if (command == "demo")
        return wants(2) ? demo(target, args[1], args[2]) : badCount("demo ID SECONDS");
    if (command == "mem")
        return wants(3) ? mem(target, args[1], args[2], args[3]) : badCount("mem ID ADDR SIZE");
    if (command == "notifications")
        return wants(1) ? notifications(target, args[1]) : badCount("notifications ID");
    if (command == "fail-reads")
        return wants(1) || wants(2) ? failReads(target, args[1], count == 2 ? args[2] : std::string())
                                    : badCount("fail-reads ID [COUNT]");
    return usage("unknown command " + command);
}
