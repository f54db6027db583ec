#include "minidump_writer_linux.h"

#include "minidump_format.h"

#include <cerrno>
#include <cpuid.h>
#include <cstring>
#include <ctime>
#include <elf.h>
#include <fcntl.h>
#include <initializer_list>
#include <sys/mman.h>
#include <sys/uio.h>
#include <sys/utsname.h>
#include <ucontext.h>
#include <unistd.h>

namespace platform::minidump {

namespace {

// A crashed thread can be deep in recursion; a megabyte holds any backtrace worth reading.
constexpr uint64_t kCrashingStackLimit = 1024 * 1024;
constexpr uint64_t kOtherStackLimit = 256 * 1024;
// Leaf functions keep data below the stack pointer (the System V red zone).
constexpr uint64_t kRedZone = 128;
// Code around the faulting instruction, for disassembly without the binary.
constexpr uint64_t kCodeAround = 256;
constexpr int kMaxModules = 2048;
constexpr int kMaxMappings = 16384;

// Memory mapped for one dump and given back after it: never the heap, whose lock a crashed
// thread may hold.
class Pages {
public:
    explicit Pages(size_t size) : m_size(size)
    {
        void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        m_data = p == MAP_FAILED ? nullptr : static_cast<char *>(p);
    }
    ~Pages()
    {
        if (m_data)
            munmap(m_data, m_size);
    }
    Pages(const Pages &) = delete;
    Pages &operator=(const Pages &) = delete;
    char *data() const { return m_data; }
    size_t size() const { return m_size; }

private:
    char *m_data;
    size_t m_size;
};

// Reads this process's memory without faulting on a page that is gone: an unmapped or
// unreadable address answers false instead of raising a second crash.
class SelfMemory {
public:
    SelfMemory() : m_pid(getpid()) {}
    ~SelfMemory()
    {
        if (m_memFd >= 0)
            close(m_memFd);
    }
    SelfMemory(const SelfMemory &) = delete;
    SelfMemory &operator=(const SelfMemory &) = delete;

    bool read(uint64_t address, void *to, size_t size)
    {
        if (size == 0)
            return true;
        if (!m_vmReadFailed) {
            iovec local{to, size};
            iovec remote{reinterpret_cast<void *>(address), size};
            const ssize_t n = process_vm_readv(m_pid, &local, 1, &remote, 1, 0);
            if (n == static_cast<ssize_t>(size))
                return true;
            // Some sandboxes forbid the call; the memory file then answers the same.
            if (n >= 0 || errno == EFAULT)
                return false;
            m_vmReadFailed = true;
        }
        if (m_memFd < 0)
            m_memFd = open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
        if (m_memFd < 0)
            return false;
        return pread(m_memFd, to, size, static_cast<off_t>(address)) == static_cast<ssize_t>(size);
    }

private:
    pid_t m_pid;
    int m_memFd = -1;
    bool m_vmReadFailed = false;
};

// The dump file, laid out front to back: each record gets its place (RVA) first, then its bytes.
class DumpFile {
public:
    explicit DumpFile(int fd) : m_fd(fd) {}

    uint32_t allocate(size_t size)
    {
        const uint32_t rva = m_end;
        // Records start on 8-byte boundaries, as readers of 64-bit fields prefer.
        m_end += static_cast<uint32_t>((size + 7) & ~size_t(7));
        return rva;
    }
    void write(uint32_t rva, const void *data, size_t size)
    {
        const char *p = static_cast<const char *>(data);
        off_t at = rva;
        while (size > 0 && m_ok) {
            const ssize_t n = pwrite(m_fd, p, size, at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_ok = false;
                break;
            }
            p += n;
            at += n;
            size -= static_cast<size_t>(n);
        }
    }
    template <typename T>
    uint32_t add(const T &record)
    {
        const uint32_t rva = allocate(sizeof record);
        write(rva, &record, sizeof record);
        return rva;
    }
    // A length-prefixed UTF-16 string from UTF-8 bytes (file names, kernel texts).
    uint32_t addString(const char *utf8, size_t length)
    {
        Pages scratch(4 + (length + 1) * 2);
        if (!scratch.data()) {
            m_ok = false;
            return 0;
        }
        auto *units = reinterpret_cast<uint16_t *>(scratch.data() + 4);
        uint32_t count = 0;
        const auto *s = reinterpret_cast<const unsigned char *>(utf8);
        for (size_t i = 0; i < length;) {
            uint32_t c = s[i];
            int extra = c >= 0xf0 ? 3 : c >= 0xe0 ? 2 : c >= 0xc0 ? 1 : 0;
            c &= extra == 3 ? 0x07 : extra == 2 ? 0x0f : extra == 1 ? 0x1f : 0x7f;
            ++i;
            for (; extra > 0 && i < length; --extra, ++i)
                c = (c << 6) | (s[i] & 0x3f);
            if (c >= 0x10000) {
                c -= 0x10000;
                units[count++] = static_cast<uint16_t>(0xd800 + (c >> 10));
                units[count++] = static_cast<uint16_t>(0xdc00 + (c & 0x3ff));
            } else {
                units[count++] = static_cast<uint16_t>(c);
            }
        }
        units[count] = 0;
        const uint32_t bytes = count * 2;
        std::memcpy(scratch.data(), &bytes, 4);
        const uint32_t rva = allocate(4 + bytes + 2);
        write(rva, scratch.data(), 4 + bytes + 2);
        return rva;
    }
    bool ok() const { return m_ok; }
    void fail() { m_ok = false; }

private:
    int m_fd;
    uint32_t m_end = 0;
    bool m_ok = true;
};

struct Mapping {
    uint64_t start, end, offset, inode;
    bool readable, executable;
    const char *path;
    size_t pathLength;
};

uint64_t parseHex(const char *&p, const char *end)
{
    uint64_t value = 0;
    for (; p < end; ++p) {
        const char c = *p;
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            break;
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return value;
}

uint64_t parseDecimal(const char *&p, const char *end)
{
    uint64_t value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
        value = value * 10 + static_cast<uint64_t>(*p - '0');
    return value;
}

void skipSpaces(const char *&p, const char *end)
{
    while (p < end && *p == ' ')
        ++p;
}

void skipField(const char *&p, const char *end)
{
    while (p < end && *p != ' ' && *p != '\n')
        ++p;
    skipSpaces(p, end);
}

// Reads a whole /proc file into pages; /proc files report no size, so read until the end.
size_t readProcFile(const char *path, Pages &into)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !into.data())
        return 0;
    size_t used = 0;
    while (used < into.size()) {
        const ssize_t n = read(fd, into.data() + used, into.size() - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        used += static_cast<size_t>(n);
    }
    close(fd);
    return used;
}

// "start-end perms offset dev inode   path" per line.
int parseMaps(const char *text, size_t size, Mapping *out, int capacity)
{
    int count = 0;
    const char *p = text;
    const char *end = text + size;
    while (p < end && count < capacity) {
        const char *lineEnd = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (!lineEnd)
            lineEnd = end;
        Mapping m{};
        m.start = parseHex(p, lineEnd);
        if (p < lineEnd && *p == '-')
            ++p;
        m.end = parseHex(p, lineEnd);
        skipSpaces(p, lineEnd);
        m.readable = p < lineEnd && *p == 'r';
        m.executable = p + 2 < lineEnd && p[2] == 'x';
        skipField(p, lineEnd);
        m.offset = parseHex(p, lineEnd);
        skipSpaces(p, lineEnd);
        skipField(p, lineEnd);
        m.inode = parseDecimal(p, lineEnd);
        skipSpaces(p, lineEnd);
        m.path = p;
        m.pathLength = static_cast<size_t>(lineEnd - p);
        out[count++] = m;
        p = lineEnd + 1;
    }
    return count;
}

const Mapping *mappingOf(uint64_t address, const Mapping *maps, int count)
{
    for (int i = 0; i < count; ++i) {
        if (address >= maps[i].start && address < maps[i].end)
            return &maps[i];
    }
    return nullptr;
}

// The bytes from the stack pointer (less the red zone) to the top of its mapping: the frames
// in use, which is what an unwinder walks.
void stackRange(uint64_t sp, uint64_t limit, const Mapping *maps, int count, uint64_t *start, uint64_t *size)
{
    *start = 0;
    *size = 0;
    const Mapping *m = mappingOf(sp, maps, count);
    uint64_t from = 0;
    if (m && m->readable) {
        from = sp >= m->start + kRedZone ? sp - kRedZone : m->start;
    } else {
        // A thread that ran out of stack faults with its stack pointer in the guard page below
        // its stack, or in the gap below it: its frames are all in the mapping just above.
        m = nullptr;
        for (int i = 0; i < count; ++i) {
            if (maps[i].start > sp && (!m || maps[i].start < m->start))
                m = &maps[i];
        }
        if (!m || !m->readable || m->start - sp > limit)
            return;
        from = m->start;
    }
    uint64_t to = m->end;
    if (to - from > limit)
        to = from + limit;
    *start = from;
    *size = to - from;
}

// Copies memory into the file, a page-sized chunk at a time; a page that cannot be read is
// written as zeros, so the descriptor's size still holds.
uint32_t addMemory(DumpFile &file, SelfMemory &memory, uint64_t start, uint64_t size, Pages &bounce)
{
    const uint32_t rva = file.allocate(size);
    for (uint64_t done = 0; done < size && file.ok();) {
        size_t chunk = static_cast<size_t>(size - done);
        if (chunk > bounce.size())
            chunk = bounce.size();
        // Keep chunks inside one page so an unreadable page costs only itself.
        const uint64_t pageEnd = ((start + done) | 4095) + 1;
        if (start + done + chunk > pageEnd)
            chunk = static_cast<size_t>(pageEnd - (start + done));
        if (!memory.read(start + done, bounce.data(), chunk))
            std::memset(bounce.data(), 0, chunk);
        file.write(rva + static_cast<uint32_t>(done), bounce.data(), chunk);
        done += chunk;
    }
    return rva;
}

void fillContext(const ThreadRegisters &r, ContextAmd64 *c)
{
    std::memset(c, 0, sizeof *c);
    c->contextFlags = kContextControl | kContextInteger | kContextSegments;
    c->cs = r.cs;
    c->ss = r.ss;
    c->ds = r.ds;
    c->es = r.es;
    c->fs = r.fs;
    c->gs = r.gs;
    c->eflags = static_cast<uint32_t>(r.eflags);
    c->rax = r.rax;
    c->rcx = r.rcx;
    c->rdx = r.rdx;
    c->rbx = r.rbx;
    c->rsp = r.rsp;
    c->rbp = r.rbp;
    c->rsi = r.rsi;
    c->rdi = r.rdi;
    c->r8 = r.r8;
    c->r9 = r.r9;
    c->r10 = r.r10;
    c->r11 = r.r11;
    c->r12 = r.r12;
    c->r13 = r.r13;
    c->r14 = r.r14;
    c->r15 = r.r15;
    c->rip = r.rip;
    if (r.hasFloatingPoint) {
        c->contextFlags |= kContextFloatingPoint;
        std::memcpy(c->fltSave, r.fxsave, sizeof c->fltSave);
        // MXCSR sits at byte 24 of the FXSAVE image.
        std::memcpy(&c->mxCsr, r.fxsave + 24, sizeof c->mxCsr);
    }
}

struct BuildId {
    uint8_t bytes[64];
    uint32_t size;
};

// The GNU build id from the loaded ELF image's notes: the id that symbol files and debuggers
// match a module by.
bool readBuildId(SelfMemory &memory, uint64_t base, BuildId *id)
{
    Elf64_Ehdr header;
    if (!memory.read(base, &header, sizeof header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum > 64)
        return false;
    Elf64_Phdr phdrs[64];
    if (!memory.read(base + header.e_phoff, phdrs, header.e_phnum * sizeof(Elf64_Phdr)))
        return false;
    // The load bias: where the lowest loaded segment ended up against where it asked to be.
    uint64_t lowest = UINT64_MAX;
    for (int i = 0; i < header.e_phnum; ++i) {
        if (phdrs[i].p_type == PT_LOAD && phdrs[i].p_vaddr < lowest)
            lowest = phdrs[i].p_vaddr & ~uint64_t(4095);
    }
    if (lowest == UINT64_MAX)
        return false;
    const uint64_t bias = base - lowest;
    for (int i = 0; i < header.e_phnum; ++i) {
        if (phdrs[i].p_type != PT_NOTE)
            continue;
        uint8_t notes[4096];
        size_t size = phdrs[i].p_memsz < sizeof notes ? phdrs[i].p_memsz : sizeof notes;
        if (!memory.read(bias + phdrs[i].p_vaddr, notes, size))
            continue;
        for (size_t at = 0; at + sizeof(Elf64_Nhdr) <= size;) {
            Elf64_Nhdr note;
            std::memcpy(&note, notes + at, sizeof note);
            const size_t name = at + sizeof note;
            const size_t desc = name + ((note.n_namesz + 3) & ~3u);
            const size_t next = desc + ((note.n_descsz + 3) & ~3u);
            if (next > size)
                break;
            if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && std::memcmp(notes + name, "GNU", 4) == 0 &&
                note.n_descsz > 0 && note.n_descsz <= sizeof id->bytes) {
                std::memcpy(id->bytes, notes + desc, note.n_descsz);
                id->size = note.n_descsz;
                return true;
            }
            at = next;
        }
    }
    return false;
}

struct ModuleSpan {
    uint64_t start, end;
    const Mapping *first;
};

// A module is a run of mappings of one file that begins at file offset 0 with an ELF image.
int findModules(const Mapping *maps, int count, SelfMemory &memory, ModuleSpan *out, int capacity)
{
    int modules = 0;
    for (int i = 0; i < count && modules < capacity; ++i) {
        const Mapping &m = maps[i];
        if (m.offset != 0 || m.pathLength == 0 || m.path[0] != '/' || !m.readable)
            continue;
        if (m.pathLength >= 5 && std::memcmp(m.path, "/dev/", 5) == 0)
            continue;
        char magic[SELFMAG];
        if (!memory.read(m.start, magic, sizeof magic) || std::memcmp(magic, ELFMAG, SELFMAG) != 0)
            continue;
        ModuleSpan span{m.start, m.end, &m};
        for (int j = i + 1; j < count; ++j) {
            if (maps[j].inode != m.inode || maps[j].pathLength != m.pathLength ||
                std::memcmp(maps[j].path, m.path, m.pathLength) != 0)
                break;
            span.end = maps[j].end;
            i = j;
        }
        out[modules++] = span;
    }
    return modules;
}

void fillSystemInfo(DumpFile &file, const SystemFacts &facts, SystemInfo *info)
{
    std::memset(info, 0, sizeof *info);
    info->processorArchitecture = kArchitectureAmd64;
    info->numberOfProcessors = facts.processorCount;
    info->platformId = kPlatformLinux;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx)) {
        info->vendorId[0] = ebx;
        info->vendorId[1] = edx;
        info->vendorId[2] = ecx;
    }
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        info->versionInformation = eax;
        info->featureInformation = edx;
        unsigned family = (eax >> 8) & 0xf;
        unsigned model = (eax >> 4) & 0xf;
        if (family == 0xf)
            family += (eax >> 20) & 0xff;
        if (family >= 6)
            model |= ((eax >> 16) & 0xf) << 4;
        info->processorLevel = static_cast<uint16_t>(family);
        info->processorRevision = static_cast<uint16_t>((model << 8) | (eax & 0xf));
    }
    if (__get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx))
        info->amdExtendedCpuFeatures = ebx;

    utsname uts;
    if (uname(&uts) == 0) {
        const char *p = uts.release;
        const char *end = p + std::strlen(p);
        info->majorVersion = static_cast<uint32_t>(parseDecimal(p, end));
        if (p < end && *p == '.')
            ++p;
        info->minorVersion = static_cast<uint32_t>(parseDecimal(p, end));
        if (p < end && *p == '.')
            ++p;
        info->buildNumber = static_cast<uint32_t>(parseDecimal(p, end));
        // The service-pack text of Windows carries the kernel's full identity here.
        char text[sizeof uts.sysname + sizeof uts.release + sizeof uts.version + sizeof uts.machine + 4];
        size_t length = 0;
        for (const char *part : {uts.sysname, uts.release, uts.version, uts.machine}) {
            const size_t n = std::strlen(part);
            std::memcpy(text + length, part, n);
            length += n;
            text[length++] = ' ';
        }
        info->csdVersionRva = file.addString(text, length - 1);
    }
}

} // namespace

void registersFromSignalContext(pid_t tid, const void *ucontext, ThreadRegisters *out)
{
    const auto *uc = static_cast<const ucontext_t *>(ucontext);
    const greg_t *g = uc->uc_mcontext.gregs;
    out->tid = tid;
    out->rax = static_cast<uint64_t>(g[REG_RAX]);
    out->rbx = static_cast<uint64_t>(g[REG_RBX]);
    out->rcx = static_cast<uint64_t>(g[REG_RCX]);
    out->rdx = static_cast<uint64_t>(g[REG_RDX]);
    out->rsi = static_cast<uint64_t>(g[REG_RSI]);
    out->rdi = static_cast<uint64_t>(g[REG_RDI]);
    out->rbp = static_cast<uint64_t>(g[REG_RBP]);
    out->rsp = static_cast<uint64_t>(g[REG_RSP]);
    out->r8 = static_cast<uint64_t>(g[REG_R8]);
    out->r9 = static_cast<uint64_t>(g[REG_R9]);
    out->r10 = static_cast<uint64_t>(g[REG_R10]);
    out->r11 = static_cast<uint64_t>(g[REG_R11]);
    out->r12 = static_cast<uint64_t>(g[REG_R12]);
    out->r13 = static_cast<uint64_t>(g[REG_R13]);
    out->r14 = static_cast<uint64_t>(g[REG_R14]);
    out->r15 = static_cast<uint64_t>(g[REG_R15]);
    out->rip = static_cast<uint64_t>(g[REG_RIP]);
    out->eflags = static_cast<uint64_t>(g[REG_EFL]);
    // cs, gs and fs share one word of the signal frame, low half first.
    const auto segments = static_cast<uint64_t>(g[REG_CSGSFS]);
    out->cs = static_cast<uint16_t>(segments & 0xffff);
    out->gs = static_cast<uint16_t>((segments >> 16) & 0xffff);
    out->fs = static_cast<uint16_t>((segments >> 32) & 0xffff);
    out->ss = out->ds = out->es = 0;
    out->hasFloatingPoint = uc->uc_mcontext.fpregs != nullptr;
    if (out->hasFloatingPoint)
        std::memcpy(out->fxsave, uc->uc_mcontext.fpregs, sizeof out->fxsave);
}

bool writeMinidump(int fd, const CrashInfo &crash, const ThreadRegisters *otherThreads, int otherThreadCount,
                   const SystemFacts &facts)
{
    DumpFile file(fd);
    SelfMemory memory;

    // Browser processes map a few thousand regions; a map line is rarely longer than 200 bytes.
    Pages mapsText(4 * 1024 * 1024);
    Pages mapsTable(sizeof(Mapping) * kMaxMappings);
    Pages moduleTable(sizeof(ModuleSpan) * kMaxModules);
    Pages bounce(64 * 1024);
    if (!mapsText.data() || !mapsTable.data() || !moduleTable.data() || !bounce.data())
        return false;
    const size_t mapsSize = readProcFile("/proc/self/maps", mapsText);
    auto *maps = reinterpret_cast<Mapping *>(mapsTable.data());
    const int mapCount = parseMaps(mapsText.data(), mapsSize, maps, kMaxMappings);

    constexpr int kStreams = 8;
    const uint32_t headerRva = file.allocate(sizeof(Header));
    const uint32_t directoryRva = file.allocate(sizeof(Directory) * kStreams);
    Directory directory[kStreams];
    std::memset(directory, 0, sizeof directory);
    int streams = 0;

    // Threads: the crashing one first, as readers pick the first thread when nothing else says.
    const int threadCount = 1 + otherThreadCount;
    const uint32_t threadListSize = 4 + sizeof(Thread) * static_cast<uint32_t>(threadCount);
    const uint32_t threadListRva = file.allocate(threadListSize);
    const uint32_t memoryListSize = 4 + sizeof(MemoryDescriptor) * static_cast<uint32_t>(threadCount + 1);
    const uint32_t memoryListRva = file.allocate(memoryListSize);
    uint32_t memoryCount = 0;
    uint32_t crashingContextRva = 0;
    file.write(threadListRva, &threadCount, 4);
    for (int i = 0; i < threadCount; ++i) {
        const ThreadRegisters &regs = i == 0 ? crash.crashingThread : otherThreads[i - 1];
        ContextAmd64 context;
        fillContext(regs, &context);
        Thread thread;
        std::memset(&thread, 0, sizeof thread);
        thread.threadId = static_cast<uint32_t>(regs.tid);
        thread.threadContext = {sizeof context, file.add(context)};
        if (i == 0)
            crashingContextRva = thread.threadContext.rva;
        uint64_t start = 0;
        uint64_t size = 0;
        stackRange(regs.rsp, i == 0 ? kCrashingStackLimit : kOtherStackLimit, maps, mapCount, &start, &size);
        thread.stack.startOfMemoryRange = start;
        thread.stack.memory = {static_cast<uint32_t>(size), addMemory(file, memory, start, size, bounce)};
        file.write(threadListRva + 4 + sizeof(Thread) * static_cast<uint32_t>(i), &thread, sizeof thread);
        if (size > 0) {
            file.write(memoryListRva + 4 + sizeof(MemoryDescriptor) * memoryCount, &thread.stack,
                       sizeof thread.stack);
            ++memoryCount;
        }
    }
    directory[streams++] = {ThreadListStream, {threadListSize, threadListRva}};

    // The code around the faulting instruction, when it lies outside every stack already taken.
    const Mapping *code = mappingOf(crash.crashingThread.rip, maps, mapCount);
    if (code && code->readable) {
        uint64_t start = crash.crashingThread.rip - kCodeAround;
        uint64_t end = crash.crashingThread.rip + kCodeAround;
        if (start < code->start || start > crash.crashingThread.rip)
            start = code->start;
        if (end > code->end)
            end = code->end;
        const Mapping *stack = mappingOf(crash.crashingThread.rsp, maps, mapCount);
        if (stack != code) {
            MemoryDescriptor around{start, {static_cast<uint32_t>(end - start),
                                            addMemory(file, memory, start, end - start, bounce)}};
            file.write(memoryListRva + 4 + sizeof(MemoryDescriptor) * memoryCount, &around, sizeof around);
            ++memoryCount;
        }
    }
    file.write(memoryListRva, &memoryCount, 4);
    directory[streams++] = {MemoryListStream,
                            {4 + static_cast<uint32_t>(sizeof(MemoryDescriptor)) * memoryCount, memoryListRva}};

    ExceptionStreamRecord exception;
    std::memset(&exception, 0, sizeof exception);
    exception.threadId = static_cast<uint32_t>(crash.crashingThread.tid);
    exception.exceptionRecord.exceptionCode = static_cast<uint32_t>(crash.signal);
    exception.exceptionRecord.exceptionFlags = static_cast<uint32_t>(crash.code);
    exception.exceptionRecord.exceptionAddress = crash.address;
    exception.threadContext = {sizeof(ContextAmd64), crashingContextRva};
    directory[streams++] = {ExceptionStream, {sizeof exception, file.add(exception)}};

    SystemInfo system;
    fillSystemInfo(file, facts, &system);
    directory[streams++] = {SystemInfoStream, {sizeof system, file.add(system)}};

    auto *modules = reinterpret_cast<ModuleSpan *>(moduleTable.data());
    const int moduleCount = findModules(maps, mapCount, memory, modules, kMaxModules);
    const uint32_t moduleListSize = 4 + sizeof(Module) * static_cast<uint32_t>(moduleCount);
    const uint32_t moduleListRva = file.allocate(moduleListSize);
    file.write(moduleListRva, &moduleCount, 4);
    for (int i = 0; i < moduleCount; ++i) {
        Module module;
        std::memset(&module, 0, sizeof module);
        module.baseOfImage = modules[i].start;
        module.sizeOfImage = static_cast<uint32_t>(modules[i].end - modules[i].start);
        module.moduleNameRva = file.addString(modules[i].first->path, modules[i].first->pathLength);
        BuildId id{};
        if (readBuildId(memory, modules[i].start, &id)) {
            uint8_t record[4 + sizeof id.bytes];
            std::memcpy(record, &kCvSignatureElfBuildId, 4);
            std::memcpy(record + 4, id.bytes, id.size);
            const uint32_t rva = file.allocate(4 + id.size);
            file.write(rva, record, 4 + id.size);
            module.cvRecord = {4 + id.size, rva};
        }
        file.write(moduleListRva + 4 + sizeof(Module) * static_cast<uint32_t>(i), &module, sizeof module);
    }
    directory[streams++] = {ModuleListStream, {moduleListSize, moduleListRva}};

    // Raw texts of the kernel's view, for readers that look for the pid, the regions or the
    // command line.
    const struct {
        uint32_t type;
        const char *path;
    } texts[] = {{LinuxMapsStream, nullptr},
                 {LinuxProcStatusStream, "/proc/self/status"},
                 {LinuxCmdLineStream, "/proc/self/cmdline"}};
    for (const auto &text : texts) {
        if (!text.path) {
            const uint32_t rva = file.allocate(mapsSize);
            file.write(rva, mapsText.data(), mapsSize);
            directory[streams++] = {text.type, {static_cast<uint32_t>(mapsSize), rva}};
            continue;
        }
        Pages content(64 * 1024);
        const size_t size = readProcFile(text.path, content);
        const uint32_t rva = file.allocate(size);
        file.write(rva, content.data(), size);
        directory[streams++] = {text.type, {static_cast<uint32_t>(size), rva}};
    }

    Header header;
    std::memset(&header, 0, sizeof header);
    header.signature = kSignature;
    header.version = kVersion;
    header.numberOfStreams = static_cast<uint32_t>(streams);
    header.streamDirectoryRva = directoryRva;
    header.timeDateStamp = static_cast<uint32_t>(time(nullptr));
    file.write(directoryRva, directory, sizeof(Directory) * static_cast<size_t>(streams));
    file.write(headerRva, &header, sizeof header);
    return file.ok();
}

} // namespace platform::minidump
