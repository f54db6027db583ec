#include "control.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace padio {

namespace {

std::vector<std::string> fieldsOf(const std::string &line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t end = line.find('\t', start);
        fields.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

bool parseCount(const std::string &text, long long max, long long *value)
{
    if (text.empty() || text.size() > 12)
        return false;
    long long result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + (c - '0');
    }
    if (result > max)
        return false;
    *value = result;
    return true;
}

// Whoever reaches the socket can list, plug and unplug pads and read their memory, so it lives
// only in a folder of this user that nobody else may enter. A loose mode on our own folder is
// tightened; a folder of somebody else, or a link somebody else could turn elsewhere, is refused.
bool privateFolder(const std::string &folder)
{
    struct stat st;
    if (::lstat(folder.c_str(), &st) != 0)
        return false;
    if (S_ISLNK(st.st_mode) && (st.st_uid != ::geteuid() || ::stat(folder.c_str(), &st) != 0))
        return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    return (st.st_mode & 077) == 0 || ::chmod(folder.c_str(), st.st_mode & 0700) == 0;
}

// 0 when there is no safe address: a path too long for sun_path is refused, never cut or moved
// into the abstract namespace, where every user of the machine could reach it.
socklen_t controlAddress(const std::string &folder, sockaddr_un *address, std::string *path)
{
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    const std::string file = folder + "/padio.sock";
    if (file.size() >= sizeof address->sun_path || !privateFolder(folder))
        return 0;
    std::memcpy(address->sun_path, file.c_str(), file.size() + 1);
    *path = file;
    return socklen_t(offsetof(sockaddr_un, sun_path) + file.size() + 1);
}

} // namespace

std::string handleRequest(PadStore &store, const std::string &line, const std::string &hiddenId,
                          RequestEffects *effects)
{
    const std::vector<std::string> f = fieldsOf(line);
    const std::string &verb = f[0];
    auto known = [&](const std::string &id, std::string *why) -> PadInfo * {
        PadInfo *pad = store.findById(id);
        if (!pad)
            *why = "error no pad with the id " + id;
        return pad;
    };
    std::string why;

    if (verb == "list" && f.size() == 1) {
        std::string reply = "ok " + std::to_string(store.pads().size());
        for (const PadInfo &pad : store.pads())
            reply += "\n" + PadStore::formatPad(pad);
        return reply;
    }
    if (verb == "plug" && f.size() == 5) {
        PadInfo pad, plugged;
        pad.deviceId = f[1];
        pad.version = f[2];
        pad.sn = f[3];
        pad.mask = f[4];
        if (!store.plug(pad, &plugged, &why))
            return "error " + why;
        effects->change = RequestEffects::Arrival;
        return "ok " + PadStore::formatPad(plugged);
    }
    if (verb == "unplug" && f.size() == 2) {
        if (!store.unplug(f[1], &why))
            return "error " + why;
        if (f[1] != hiddenId)
            effects->change = RequestEffects::Removal;
        return "ok";
    }
    if (verb == "data" && f.size() == 3) {
        const PadInfo *pad = known(f[1], &why);
        if (!pad)
            return why;
        std::vector<uint8_t> bytes;
        if (f[2].size() != 16 || !fromHex(f[2], &bytes))
            return "error a report is 16 hexadecimal digits: " + f[2];
        if (pad->inLoader || pad->deviceId == hiddenId)
            return "error the pad " + f[1] + " is restarting or in its firmware loader";
        effects->dataPadId = pad->deviceId;
        effects->data = bytes;
        return "ok";
    }
    if (verb == "mem" && f.size() == 4) {
        long long address = 0, size = 0;
        if (!parseCount(f[2], kMemorySize, &address) || !parseCount(f[3], kMemorySize, &size)
            || address + size > kMemorySize)
            return "error the pad's memory is " + std::to_string(kMemorySize) + " bytes; that range is outside";
        if (!known(f[1], &why))
            return why;
        const std::vector<uint8_t> &memory = store.memory(f[1]);
        return "ok " + toHex(memory.data() + address, size_t(size));
    }
    if (verb == "fail-reads" && f.size() == 3) {
        long long count = 0;
        if (!parseCount(f[2], kMaxReadsToFail, &count))
            return "error the count of reads to fail is a whole number up to " + std::to_string(kMaxReadsToFail);
        if (!known(f[1], &why))
            return why;
        store.failReads(f[1], count);
        return "ok";
    }
    if (verb == "notifications" && f.size() == 2) {
        if (!known(f[1], &why))
            return why;
        const std::vector<Notification> list = store.notifications(f[1]);
        std::string reply = "ok " + std::to_string(list.size());
        for (const Notification &n : list) {
            char value[8];
            std::snprintf(value, sizeof value, "0x%04x", n.value);
            reply += "\n" + std::to_string(n.unixMs) + " " + value;
        }
        return reply;
    }
    return "error unknown request";
}

int listenControl(const std::string &folder, std::string *boundPath)
{
    sockaddr_un address;
    std::string path;
    const socklen_t length = controlAddress(folder, &address, &path);
    if (length == 0)
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    int bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), length);
    if (bound != 0 && errno == EADDRINUSE) {
        const int other = connectControl(folder);
        if (other >= 0) {
            ::close(other);
            ::close(fd);
            return -1;
        }
        ::unlink(path.c_str()); // left behind by a program that did not end cleanly
        bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), length);
    }
    if (bound != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    *boundPath = path;
    return fd;
}

int connectControl(const std::string &folder)
{
    sockaddr_un address;
    std::string path;
    const socklen_t length = controlAddress(folder, &address, &path);
    if (length == 0)
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const std::string &data, int timeoutMs)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p {fd, POLLOUT, 0};
            if (::poll(&p, 1, timeoutMs) > 0)
                continue;
        }
        return false;
    }
    return true;
}

bool LineReader::readLine(int fd, std::string *line, int timeoutMs)
{
    for (;;) {
        const size_t end = m_buffer.find('\n');
        if (end != std::string::npos) {
            *line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            return true;
        }
        pollfd p {fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        m_buffer.append(chunk, size_t(n));
    }
}

} // namespace padio
