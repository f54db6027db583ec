// The virtual pad behind the device library's functions.
//
// One library thread, started by the first call, raises every callback, runs the delayed halves of
// a restart and serves padctl's control socket. Callbacks are always made without the state lock
// held, because the program calls back into the library from inside them (it enumerates on every
// device event). A static object stops the thread when the library is unloaded.
#include "padio.h"

#include "control.h"
#include "pad_store.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace padio;

namespace {

// The Windows device-change codes a real pad's library passes on.
constexpr uint32_t kEventArrival = 0x8000;
constexpr uint32_t kEventRemoval = 0x8004;
// A real pad is a composite device and its library reports every change once per interface.
constexpr int kEventsPerChange = 5;
// Room for the largest payload an update image can carry.
constexpr int kRomSize = kMaxFirmwarePayload;
constexpr int kDefaultRestartMs = 1500;
constexpr size_t kMaxClients = 16;
constexpr size_t kMaxRequestLine = 8192;
constexpr size_t kMaxWideRead = 1024;

std::string narrow(const padio_char *text)
{
    std::string result;
    if (!text)
        return result;
    for (size_t i = 0; i < kMaxWideRead && text[i]; ++i) {
        const unsigned c = text[i];
        if (c < 0x80) {
            result += char(c);
        } else if (c < 0x800) {
            result += char(0xC0 | c >> 6);
            result += char(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            result += '?'; // no HardwareID of ours leaves the basic plane
        } else {
            result += char(0xE0 | c >> 12);
            result += char(0x80 | (c >> 6 & 0x3F));
            result += char(0x80 | (c & 0x3F));
        }
    }
    return result;
}

struct Delivery {
    bool isData = false;
    uint32_t code = 0;
    uint8_t data[8] = {};
};

struct Timer {
    std::chrono::steady_clock::time_point due;
    std::function<void()> action;
};

struct Client {
    int fd = -1;
    std::string input;
};

class Runtime {
public:
    ~Runtime() { shutdown(); }

    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(m_mutex); }

    // With the lock held. Null when the state folder cannot be used.
    PadStore *store()
    {
        if (!m_store) {
            auto store = std::make_unique<PadStore>(stateFolder());
            if (!store->open(nullptr))
                return nullptr;
            m_store = std::move(store);
            const char *delay = std::getenv("PADIO_RESTART_MS");
            m_restartMs = delay && *delay ? std::max(0, std::atoi(delay)) : kDefaultRestartMs;
            start();
        }
        return m_store.get();
    }

    // With the lock held: the pad answering to a HardwareID right now.
    PadInfo *present(const padio_char *hardwareId)
    {
        PadStore *pads = store();
        if (!pads || !hardwareId)
            return nullptr;
        PadInfo *pad = pads->findByHardwareId(narrow(hardwareId));
        return pad && pad->deviceId != hiddenId ? pad : nullptr;
    }

    // With the lock held.
    void queueChange(uint32_t code)
    {
        for (int i = 0; i < kEventsPerChange; ++i) {
            Delivery d;
            d.code = code;
            m_pending.push_back(d);
        }
        wake();
    }

    // With the lock held; the action runs on the library thread with the lock held.
    void schedule(std::function<void()> action)
    {
        m_timers.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(m_restartMs),
                            std::move(action)});
        wake();
    }

    // With the lock held: the pad leaves now and comes back after the restart time, unless it
    // was unplugged or restarted again meanwhile.
    void restart(const std::string &id)
    {
        hiddenId = id;
        queueChange(kEventRemoval);
        schedule([this, id] {
            if (hiddenId != id)
                return;
            hiddenId.clear();
            if (store()->findById(id))
                queueChange(kEventArrival);
        });
    }

    padio_device_event_fn eventCallback = nullptr;
    padio_device_data_fn dataCallback = nullptr;
    std::string dataHardwareId;
    std::string hiddenId; // the pad between leaving and coming back during a restart

    std::vector<uint8_t> rom;
    bool romErased = false;
    bool romVerified = false;

private:
    void start()
    {
        if (m_thread.joinable())
            return;
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        m_wakeRead = fds[0];
        m_wakeWrite = fds[1];
        m_listenFd = listenControl(m_store->folder(), &m_socketPath);
        m_stopping = false;
        try {
            m_thread = std::thread(&Runtime::run, this);
        } catch (...) {
            closeFds();
        }
    }

    void shutdown()
    {
        {
            auto held = lock();
            m_stopping = true;
            wake();
        }
        if (m_thread.joinable()) {
            if (m_thread.get_id() == std::this_thread::get_id())
                m_thread.detach(); // unloaded from inside one of our own callbacks
            else
                m_thread.join();
        }
        closeFds();
    }

    void closeFds()
    {
        for (Client &client : m_clients)
            ::close(client.fd);
        m_clients.clear();
        if (m_listenFd >= 0) {
            ::close(m_listenFd);
            if (!m_socketPath.empty())
                ::unlink(m_socketPath.c_str());
        }
        if (m_wakeRead >= 0)
            ::close(m_wakeRead);
        if (m_wakeWrite >= 0)
            ::close(m_wakeWrite);
        m_listenFd = m_wakeRead = m_wakeWrite = -1;
    }

    void wake()
    {
        if (m_wakeWrite >= 0) {
            const char byte = 1;
            ssize_t ignored = ::write(m_wakeWrite, &byte, 1); // a full pipe already means "awake"
            (void)ignored;
        }
    }

    void run()
    {
        for (;;) {
            std::vector<pollfd> fds;
            int timeoutMs = -1;
            {
                auto held = lock();
                if (m_stopping)
                    return;
                const auto now = std::chrono::steady_clock::now();
                for (const Timer &timer : m_timers) {
                    using std::chrono::milliseconds;
                    const int left = int(std::max<long long>(
                        0, std::chrono::duration_cast<milliseconds>(timer.due - now).count() + 1));
                    timeoutMs = timeoutMs < 0 ? left : std::min(timeoutMs, left);
                }
            }
            fds.push_back({m_wakeRead, POLLIN, 0});
            if (m_listenFd >= 0 && m_clients.size() < kMaxClients)
                fds.push_back({m_listenFd, POLLIN, 0});
            const size_t firstClient = fds.size();
            for (const Client &client : m_clients)
                fds.push_back({client.fd, POLLIN, 0});

            if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR)
                return;

            char drain[64];
            while (::read(m_wakeRead, drain, sizeof drain) > 0) {
            }
            runDueTimers();
            flush();

            for (size_t i = firstClient; i < fds.size(); ++i) {
                if (fds[i].revents)
                    serve(fds[i].fd);
            }
            m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                           [](const Client &c) { return c.fd < 0; }),
                            m_clients.end());
            if (firstClient > 1 && (fds[1].revents & POLLIN)) {
                const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd >= 0)
                    m_clients.push_back({fd, {}});
            }
        }
    }

    void runDueTimers()
    {
        auto held = lock();
        const auto now = std::chrono::steady_clock::now();
        for (size_t i = 0; i < m_timers.size();) {
            if (m_timers[i].due <= now) {
                const std::function<void()> action = std::move(m_timers[i].action);
                m_timers.erase(m_timers.begin() + long(i));
                action();
            } else {
                ++i;
            }
        }
    }

    // Raises what is queued, in order, each call without the lock.
    void flush()
    {
        for (;;) {
            Delivery d;
            padio_device_event_fn onEvent = nullptr;
            padio_device_data_fn onData = nullptr;
            {
                auto held = lock();
                if (m_pending.empty() || m_stopping)
                    return;
                d = m_pending.front();
                m_pending.pop_front();
                onEvent = eventCallback;
                onData = dataCallback;
            }
            if (d.isData && onData) {
                const padio_data_cell cell {d.data};
                onData(&cell, 0);
            } else if (!d.isData && onEvent) {
                onEvent(d.code);
            }
        }
    }

    void serve(int fd)
    {
        auto client = std::find_if(m_clients.begin(), m_clients.end(), [fd](const Client &c) { return c.fd == fd; });
        char chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0) {
            ::close(fd);
            client->fd = -1;
            return;
        }
        client->input.append(chunk, size_t(n));
        size_t end;
        while ((end = client->input.find('\n')) != std::string::npos) {
            const std::string line = client->input.substr(0, end);
            client->input.erase(0, end + 1);
            const std::string reply = answer(line);
            flush();
            if (!sendAll(fd, reply + "\n", 2000)) {
                ::close(fd);
                client->fd = -1;
                return;
            }
        }
        if (client->input.size() > kMaxRequestLine) {
            ::close(fd);
            client->fd = -1;
        }
    }

    std::string answer(const std::string &line)
    {
        auto held = lock();
        RequestEffects effects;
        std::string reply = handleRequest(*m_store, line, hiddenId, &effects);
        if (effects.change == RequestEffects::Arrival)
            queueChange(kEventArrival);
        else if (effects.change == RequestEffects::Removal)
            queueChange(kEventRemoval);
        if (!effects.dataPadId.empty()) {
            const PadInfo *pad = m_store->findById(effects.dataPadId);
            const bool listened = dataCallback && pad && sameHardwareId(pad->hardwareId, dataHardwareId);
            if (listened) {
                Delivery d;
                d.isData = true;
                std::memcpy(d.data, effects.data.data(), sizeof d.data);
                m_pending.push_back(d);
            }
            reply = listened ? "ok 1" : "ok 0";
        }
        return reply;
    }

    std::mutex m_mutex;
    std::unique_ptr<PadStore> m_store;
    int m_restartMs = kDefaultRestartMs;
    std::deque<Delivery> m_pending;
    std::vector<Timer> m_timers;
    bool m_stopping = false;

    std::thread m_thread;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    int m_listenFd = -1;
    std::string m_socketPath;
    std::vector<Client> m_clients; // library thread only
};

Runtime runtime;

// No exception may cross into the program.
template <typename F>
int32_t guarded(F body)
{
    try {
        return body();
    } catch (...) {
        return 1;
    }
}

int32_t clampSize(int32_t size)
{
    return std::min<int32_t>(size, PADIO_BUFFER_SIZE);
}

// A write the buffer cannot hold fails whole: cut, its end would be lost while it reports success.
bool fitsBuffer(int32_t size)
{
    return size >= 0 && size <= PADIO_BUFFER_SIZE;
}

// The 8-bit version text an image carries after the mark "PXFW" at the start of its payload.
std::string imageVersion(const std::vector<uint8_t> &image)
{
    if (image.size() < kFirmwareMarkSize + PADIO_REC_VERSION_SIZE
        || std::memcmp(image.data(), kFirmwareMark, kFirmwareMarkSize) != 0)
        return {};
    const char *text = reinterpret_cast<const char *>(image.data() + kFirmwareMarkSize);
    const std::string version(text, strnlen(text, PADIO_REC_VERSION_SIZE));
    return checkText("", version, PADIO_REC_VERSION_SIZE, false).empty() ? version : std::string();
}

void putText(uint8_t *record, int offset, int size, const std::string &text)
{
    std::memcpy(record + offset, text.data(), std::min<size_t>(text.size(), size_t(size)));
}

void putWideText(uint8_t *record, int offset, int size, const std::string &text)
{
    // ASCII only (the store refuses anything else); one unit is kept for the terminating zero.
    const size_t units = std::min<size_t>(text.size(), size_t(size) / 2 - 1);
    for (size_t i = 0; i < units; ++i)
        record[offset + 2 * i] = uint8_t(text[i]);
}

} // namespace

extern "C" {

int32_t dcDeviceExist(const padio_char *device)
{
    return guarded([&] {
        auto held = runtime.lock();
        return runtime.present(device) ? 0 : 1;
    });
}

int32_t dcDevices(padio_filter /*filter: the virtual pad matches any*/, uint8_t *table, int32_t size)
{
    return guarded([&] {
        if (!table || size < 2)
            return 1;
        auto held = runtime.lock();
        PadStore *store = runtime.store();
        int count = 0;
        const int room = std::min<int>(PADIO_MAX_DEVICES, (size - 2) / PADIO_RECORD_SIZE);
        if (store) {
            for (const PadInfo &pad : store->pads()) {
                if (count == room)
                    break;
                if (pad.inLoader || pad.deviceId == runtime.hiddenId)
                    continue; // the loader's interface is outside every filter the program uses
                uint8_t *record = table + 2 + count * PADIO_RECORD_SIZE;
                std::memset(record, 0, PADIO_RECORD_SIZE);
                putText(record, PADIO_REC_DEVICE_ID, PADIO_REC_DEVICE_ID_SIZE, pad.deviceId);
                putText(record, PADIO_REC_VERSION, PADIO_REC_VERSION_SIZE, pad.version);
                putText(record, PADIO_REC_SN, PADIO_REC_SN_SIZE, pad.sn);
                putText(record, PADIO_REC_MASK, PADIO_REC_MASK_SIZE, pad.mask);
                putWideText(record, PADIO_REC_DEVICE_PATH, PADIO_REC_DEVICE_PATH_SIZE, pad.devicePath);
                putWideText(record, PADIO_REC_HARDWARE_ID, PADIO_REC_HARDWARE_ID_SIZE, pad.hardwareId);
                ++count;
            }
        }
        table[0] = uint8_t(count);
        table[1] = uint8_t(count >> 8);
        return store ? 0 : 1;
    });
}

int32_t dcOnDeviceEvent(padio_device_event_fn *cell)
{
    return guarded([&] {
        if (!cell)
            return 1;
        auto held = runtime.lock();
        runtime.eventCallback = *cell;
        return runtime.store() ? 0 : 1;
    });
}

int32_t dconDeviceData(const padio_char *hardwareId, const padio_char * /*devicePath*/, int32_t model,
                       padio_device_data_fn *cell)
{
    return guarded([&] {
        if (!cell || !hardwareId || model != PADIO_MODEL)
            return 1;
        auto held = runtime.lock();
        runtime.dataCallback = *cell;
        runtime.dataHardwareId = narrow(hardwareId);
        return runtime.store() ? 0 : 1;
    });
}

int32_t dcNotify(const padio_char *device, const padio_char *, int32_t model, int32_t value, uint8_t *result,
                 int32_t)
{
    return guarded([&] {
        if (model != PADIO_MODEL)
            return 1;
        auto held = runtime.lock();
        PadInfo *pad = runtime.present(device);
        if (!pad || pad->inLoader || !runtime.store()->addNotification(pad->deviceId, uint16_t(value), nullptr))
            return 1;
        if (result)
            *result = 0;
        return 0;
    });
}

int32_t dcReset(const padio_char *device, const padio_char *, int32_t model, int32_t value, uint8_t *result,
                int32_t)
{
    return guarded([&] {
        if (model != PADIO_MODEL || value != 1)
            return 1;
        auto held = runtime.lock();
        PadInfo *pad = runtime.present(device);
        PadStore *store = runtime.store();
        // One loader at a time: it has a single HardwareID.
        if (!pad || pad->inLoader || store->padInLoader() || !runtime.hiddenId.empty())
            return 1;
        pad->inLoader = true;
        if (!store->saveDevices(nullptr)) {
            pad->inLoader = false;
            return 1;
        }
        runtime.rom.assign(kRomSize, 0xFF);
        runtime.romErased = runtime.romVerified = false;
        runtime.restart(pad->deviceId);
        if (result)
            *result = 0;
        return 0;
    });
}

int32_t dcRead(const padio_char *device, const padio_char *, int32_t model, uint8_t *buffer, int32_t size,
               int32_t address)
{
    return guarded([&] {
        size = clampSize(size);
        if (model != PADIO_MODEL || !buffer || size < 0 || address < 0 || address > kMemorySize - size)
            return 1;
        auto held = runtime.lock();
        PadInfo *pad = runtime.present(device);
        if (!pad || pad->inLoader || runtime.store()->takeFailedRead(pad->deviceId))
            return 1;
        const std::vector<uint8_t> &memory = runtime.store()->memory(pad->deviceId);
        std::memcpy(buffer, memory.data() + address, size_t(size));
        return 0;
    });
}

int32_t dcWrite(const padio_char *device, const padio_char *, int32_t model, const uint8_t *buffer, int32_t size,
                int32_t address)
{
    return guarded([&] {
        if (model != PADIO_MODEL || (!buffer && size > 0) || !fitsBuffer(size) || address < 0
            || address > kMemorySize - size)
            return 1;
        auto held = runtime.lock();
        PadInfo *pad = runtime.present(device);
        if (!pad || pad->inLoader)
            return 1;
        PadStore *store = runtime.store();
        std::vector<uint8_t> &memory = store->memory(pad->deviceId);
        const std::vector<uint8_t> before(memory.begin() + address, memory.begin() + address + size);
        if (size > 0)
            std::memcpy(memory.data() + address, buffer, size_t(size));
        if (!store->saveMemory(pad->deviceId, nullptr)) {
            std::copy(before.begin(), before.end(), memory.begin() + address);
            return 1;
        }
        return 0;
    });
}

int32_t dcReadProp(const padio_char *device, const padio_char *, int32_t model, uint8_t *buffer, int32_t size,
                   int32_t propertyId)
{
    return guarded([&] {
        size = clampSize(size);
        if (model != PADIO_MODEL || !buffer || size < 0)
            return 1;
        auto held = runtime.lock();
        PadInfo *pad = runtime.present(device);
        if (!pad || pad->inLoader || runtime.store()->takeFailedRead(pad->deviceId))
            return 1;
        const auto &properties = runtime.store()->properties(pad->deviceId);
        const auto found = properties.find(propertyId);
        // A property never written reads as zeros: the caller's buffer is left as it was. An empty
        // one has no bytes to point at, and a copy must not get that null pointer even for nothing.
        if (found != properties.end() && !found->second.empty() && size > 0)
            std::memcpy(buffer, found->second.data(), std::min(found->second.size(), size_t(size)));
        return 0;
    });
}

int32_t dcWriteProp(const padio_char *device, const padio_char *, int32_t model, const uint8_t *buffer,
                    int32_t size, int32_t propertyId)
{
    return guarded([&] {
        if (model != PADIO_MODEL || (!buffer && size > 0) || !fitsBuffer(size))
            return 1;
        auto held = runtime.lock();
        PadInfo *pad = runtime.present(device);
        if (!pad || pad->inLoader)
            return 1;
        PadStore *store = runtime.store();
        auto &properties = store->properties(pad->deviceId);
        const auto old = properties.find(propertyId);
        const bool existed = old != properties.end();
        const std::vector<uint8_t> before = existed ? old->second : std::vector<uint8_t>();
        properties[propertyId] = size > 0 ? std::vector<uint8_t>(buffer, buffer + size) : std::vector<uint8_t>();
        if (!store->saveProperties(pad->deviceId, nullptr)) {
            if (existed)
                properties[propertyId] = before;
            else
                properties.erase(propertyId);
            return 1;
        }
        return 0;
    });
}

namespace {

// With the lock held: the pad whose loader is named, if it is up.
PadInfo *loader(const padio_char *device, int32_t model)
{
    if (model != PADIO_MODEL)
        return nullptr;
    PadInfo *pad = runtime.present(device);
    return pad && pad->inLoader ? pad : nullptr;
}

} // namespace

int32_t dcEraseRom(const padio_char *device, const padio_char *, int32_t model)
{
    return guarded([&] {
        auto held = runtime.lock();
        if (!loader(device, model))
            return 1;
        runtime.rom.assign(kRomSize, 0xFF);
        runtime.romErased = true;
        runtime.romVerified = false;
        return 0;
    });
}

int32_t dcBornRom(const padio_char *device, const padio_char *, int32_t model, const uint8_t *buffer,
                  int32_t length, int32_t offset)
{
    return guarded([&] {
        if (length < 0 || length > PADIO_MAX_ROM_BLOCK || offset < 0 || offset > kRomSize - length
            || (!buffer && length > 0))
            return 1;
        auto held = runtime.lock();
        if (!loader(device, model) || !runtime.romErased)
            return 1;
        if (length > 0)
            std::memcpy(runtime.rom.data() + offset, buffer, size_t(length));
        runtime.romVerified = false;
        return 0;
    });
}

int32_t dcCheckRom(const padio_char *device, const padio_char *, int32_t model, uint32_t length,
                   uint32_t checkValue)
{
    return guarded([&] {
        auto held = runtime.lock();
        if (!loader(device, model) || !runtime.romErased || length > uint32_t(kRomSize))
            return 1;
        runtime.romVerified = crc32(runtime.rom.data(), length) == checkValue;
        return runtime.romVerified ? 0 : 1;
    });
}

int32_t dcFinishUpdateRom(const padio_char *device, const padio_char *, int32_t model)
{
    return guarded([&] {
        auto held = runtime.lock();
        PadInfo *pad = loader(device, model);
        // An image that did not verify is never started: the pad stays in its loader.
        if (!pad || !runtime.romVerified)
            return 1;
        PadStore *store = runtime.store();
        const PadInfo before = *pad;
        const std::string version = imageVersion(runtime.rom);
        pad->inLoader = false;
        if (!version.empty())
            pad->version = version;
        if (!store->saveDevices(nullptr)) {
            *pad = before;
            return 1;
        }
        runtime.rom.clear();
        runtime.romErased = runtime.romVerified = false;
        runtime.restart(pad->deviceId);
        return 0;
    });
}

int32_t dcAsk(const padio_char *device, const padio_char *, int32_t model)
{
    return dcDeviceExist(device) == 0 && model == PADIO_MODEL ? 0 : 1;
}

int32_t dcScriptOut(const padio_char *, const padio_char *, int32_t)
{
    return 1;
}

int32_t dcIDWrite(const padio_char *, const padio_char *, int32_t)
{
    return 1;
}

int32_t dcRebootRom(const padio_char *, const padio_char *, int32_t)
{
    return 1;
}

} // extern "C"
