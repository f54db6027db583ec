#include "devices_handler.h"

#include "crash_handler.h"
#include "device_table.h"
#include "page_events.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMutex>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

Q_LOGGING_CATEGORY(lcDevice, "vexa.device")

namespace {

// Never destroyed: the library keeps their addresses for as long as it stays loaded.
padio_device_event_fn g_eventCell = &devices_handler::deviceEventCallback;
padio_device_data_fn g_dataCell = &devices_handler::deviceDataCallback;

// The library's callbacks carry no context of ours, so they find their handler here: the latest
// one built, until it goes. Callbacks in flight are counted; a handler going away unhooks itself,
// then sleeps until the count is back at zero. No lock is held across a callback's work: a
// refresh calls back into the library from inside its callback.
std::mutex g_callbackMutex;
std::condition_variable g_callbacksDone;
devices_handler *g_target = nullptr;
QMutex g_sinksMutex;

const padio_char kEmpty[] = {0};

const padio_char *wide(const QString &text)
{
    return reinterpret_cast<const padio_char *>(text.utf16());
}

padio_filter deviceFilter()
{
    padio_filter filter{};
    filter.words[0] = 0xFFA00001u;
    filter.words[1] = 0xFFAA0001u;
    return filter;
}

devices_handler::Sinks defaultSinks(PageEvents *events)
{
    devices_handler::Sinks sinks;
    if (!events)
        return sinks;
    sinks.devicesChanged = [events](int code) { events->devicesChanged(code); };
    sinks.deviceData = [events](const QString &text) { events->onDeviceData(text); };
    sinks.browserMsg = [events](const QString &text) { events->onBrowserMsg(text); };
    return sinks;
}

template <typename Fn>
void resolve(QLibrary &library, Fn &slot, const char *name)
{
    slot = reinterpret_cast<Fn>(library.resolve(name));
    if (!slot)
        qCWarning(lcDevice) << "device library lacks" << name;
}

} // namespace

class devices_handler::CallbackScope {
public:
    CallbackScope()
    {
        // The library's threads are not ours to start, but our code runs on them: a stack
        // overflow in a callback must leave a dump too.
        platform::prepareThreadForCrashes();
        std::lock_guard<std::mutex> lock(g_callbackMutex);
        m_handler = g_target;
        if (m_handler)
            ++m_handler->m_callbacksInFlight;
    }
    ~CallbackScope()
    {
        if (!m_handler)
            return;
        std::lock_guard<std::mutex> lock(g_callbackMutex);
        if (--m_handler->m_callbacksInFlight == 0)
            g_callbacksDone.notify_all();
    }
    devices_handler *handler() const { return m_handler; }

private:
    devices_handler *m_handler = nullptr;
};

devices_handler::devices_handler(PageEvents *events, QObject *parent)
    : devices_handler({QCoreApplication::applicationDirPath() + QStringLiteral("/padio"), QStringLiteral("padio")},
                      events, parent)
{
}

devices_handler::devices_handler(const QStringList &candidates, PageEvents *events, QObject *parent)
    : QObject(parent), m_sinks(defaultSinks(events))
{
    load(candidates);
    {
        std::lock_guard<std::mutex> lock(g_callbackMutex);
        g_target = this;
    }
    if (m_dcOnDeviceEvent)
        m_dcOnDeviceEvent(&g_eventCell);
}

devices_handler::~devices_handler()
{
    std::unique_lock<std::mutex> lock(g_callbackMutex);
    if (g_target == this)
        g_target = nullptr;
    // A callback that deleted its own handler would wait for itself here; none of ours does.
    g_callbacksDone.wait(lock, [this] { return m_callbacksInFlight == 0; });
    // The library stays loaded: it may still hold our callback cells and run its own threads.
}

bool devices_handler::receivesCallbacks() const
{
    std::lock_guard<std::mutex> lock(g_callbackMutex);
    return g_target == this;
}

void devices_handler::load(const QStringList &candidates)
{
    for (const QString &name : candidates) {
        m_library.setFileName(name);
        if (m_library.load()) {
            m_loaded = true;
            break;
        }
        qCDebug(lcDevice) << "device library not loaded from" << name << ":" << m_library.errorString();
    }
    if (!m_loaded) {
        qCWarning(lcDevice) << "no device library; pads are not available";
        return;
    }
    qCInfo(lcDevice) << "device library" << m_library.fileName();
    resolve(m_library, m_dcDeviceExist, "dcDeviceExist");
    resolve(m_library, m_dcDevices, "dcDevices");
    resolve(m_library, m_dcOnDeviceEvent, "dcOnDeviceEvent");
    resolve(m_library, m_dconDeviceData, "dconDeviceData");
    resolve(m_library, m_dcNotify, "dcNotify");
    resolve(m_library, m_dcReset, "dcReset");
    resolve(m_library, m_dcRead, "dcRead");
    resolve(m_library, m_dcWrite, "dcWrite");
    resolve(m_library, m_dcReadProp, "dcReadProp");
    resolve(m_library, m_dcWriteProp, "dcWriteProp");
    resolve(m_library, m_dcEraseRom, "dcEraseRom");
    resolve(m_library, m_dcBornRom, "dcBornRom");
    resolve(m_library, m_dcCheckRom, "dcCheckRom");
    resolve(m_library, m_dcFinishUpdateRom, "dcFinishUpdateRom");
    resolve(m_library, m_dcAsk, "dcAsk");
    resolve(m_library, m_dcScriptOut, "dcScriptOut");
    resolve(m_library, m_dcIDWrite, "dcIDWrite");
    resolve(m_library, m_dcRebootRom, "dcRebootRom");
}

void devices_handler::setSinks(Sinks sinks)
{
    QMutexLocker lock(&g_sinksMutex);
    m_sinks = std::move(sinks);
}

void devices_handler::setRefresh(std::function<void()> refresh)
{
    QMutexLocker lock(&g_sinksMutex);
    m_sinks.refresh = std::move(refresh);
}

devices_handler::Sinks devices_handler::sinks() const
{
    QMutexLocker lock(&g_sinksMutex);
    return m_sinks;
}

int devices_handler::clampSize(int size)
{
    return std::clamp(size, 0, kBufferSize);
}

QByteArray devices_handler::enumerateDevices()
{
    QByteArray table(PADIO_TABLE_SIZE, '\0');
    if (!m_dcDevices)
        return table;
    m_dcDevices(deviceFilter(), reinterpret_cast<uint8_t *>(table.data()), PADIO_TABLE_SIZE);
    if (device_table::recordCount(table) >= 1 && m_dconDeviceData) {
        // Copies cut at the field ends, so the library always gets zero-terminated texts.
        const DeviceInfo first = device_table::record(table, 0);
        m_dconDeviceData(wide(first.HardwareID), wide(first.DevicePath), PADIO_MODEL, &g_dataCell);
    }
    return table;
}

bool devices_handler::readProp(const QString &hardwareId, Buffer &buffer, int size, int propertyId)
{
    return m_dcReadProp
           && m_dcReadProp(wide(hardwareId), kEmpty, PADIO_MODEL, buffer.data(), clampSize(size), propertyId) == 0;
}

bool devices_handler::writeProp(const QString &hardwareId, const Buffer &buffer, int size, int propertyId)
{
    // Cut to the buffer, the write would lose its end and still report success.
    return size <= kBufferSize && m_dcWriteProp &&
           m_dcWriteProp(wide(hardwareId), kEmpty, PADIO_MODEL, buffer.data(), clampSize(size), propertyId) == 0;
}

bool devices_handler::read(const QString &hardwareId, Buffer &buffer, int size, int address)
{
    return m_dcRead && m_dcRead(wide(hardwareId), kEmpty, PADIO_MODEL, buffer.data(), clampSize(size), address) == 0;
}

bool devices_handler::write(const QString &hardwareId, const Buffer &buffer, int size, int address)
{
    return size <= kBufferSize && m_dcWrite &&
           m_dcWrite(wide(hardwareId), kEmpty, PADIO_MODEL, buffer.data(), clampSize(size), address) == 0;
}

bool devices_handler::notify(const QString &hardwareId, int value)
{
    uint8_t result = 0;
    return m_dcNotify && m_dcNotify(wide(hardwareId), kEmpty, PADIO_MODEL, value & 0xFFFF, &result, 0) == 0;
}

bool devices_handler::deviceExists(const QString &hardwareId)
{
    return m_dcDeviceExist && m_dcDeviceExist(wide(hardwareId)) == 0;
}

void devices_handler::reset(const QString &hardwareId, int code)
{
    // The library writes a status byte that nobody reads.
    uint8_t status = 0;
    if (m_dcReset)
        m_dcReset(wide(hardwareId), kEmpty, PADIO_MODEL, code & 0xFFFF, &status, 0);
}

void devices_handler::eraseRom(const QString &hardwareId)
{
    if (m_dcEraseRom)
        m_dcEraseRom(wide(hardwareId), kEmpty, PADIO_MODEL);
}

bool devices_handler::bornRom(const QString &hardwareId, const Buffer &buffer, int length, int offset)
{
    return m_dcBornRom && m_dcBornRom(wide(hardwareId), kEmpty, PADIO_MODEL, buffer.data(), length, offset) == 0;
}

bool devices_handler::checkRom(const QString &hardwareId, uint32_t length, uint32_t checkValue)
{
    return m_dcCheckRom && m_dcCheckRom(wide(hardwareId), kEmpty, PADIO_MODEL, length, checkValue) == 0;
}

void devices_handler::finishUpdateRom(const QString &hardwareId)
{
    if (m_dcFinishUpdateRom)
        m_dcFinishUpdateRom(wide(hardwareId), kEmpty, PADIO_MODEL);
}

void devices_handler::browserMessage(const QString &text)
{
    const Sinks current = sinks();
    if (current.browserMsg)
        current.browserMsg(text);
}

int32_t devices_handler::deviceEventCallback(uint32_t event)
{
    CallbackScope scope;
    if (devices_handler *handler = scope.handler())
        handler->onDeviceEvent(event);
    return 1;
}

void devices_handler::onDeviceEvent(uint32_t event)
{
    // One step of the 0…4 cycle per call, atomic so that calls from several library threads
    // still act on exactly one in five.
    unsigned seen = m_eventCounter.load();
    while (!m_eventCounter.compare_exchange_weak(seen, seen + 1 == 5 ? 0 : seen + 1)) {
    }
    if (seen != 0)
        return;

    const Sinks current = sinks();
    // The page asks for the list when told; the table must already be current by then.
    if (current.refresh)
        current.refresh();
    if (current.devicesChanged)
        current.devicesChanged(int(event & 0xFFFF));
}

int32_t devices_handler::deviceDataCallback(const padio_data_cell *cell, uint32_t)
{
    if (!cell || !cell->data)
        return 1;
    uint8_t bytes[8];
    std::copy(cell->data, cell->data + 8, bytes);
    CallbackScope scope;
    devices_handler *handler = scope.handler();
    if (!handler)
        return 1;
    std::function<void(const QString &)> deliver;
    {
        QMutexLocker lock(&g_sinksMutex);
        deliver = handler->m_sinks.deviceData;
    }
    if (deliver)
        deliver(reportText(bytes));
    return 1;
}

QString devices_handler::reportText(const uint8_t *bytes)
{
    static const char digits[] = "0123456789abcdef";
    QString text(16, Qt::Uninitialized);
    for (int i = 0; i < 8; ++i) {
        text[2 * i] = QLatin1Char(digits[bytes[i] >> 4]);
        text[2 * i + 1] = QLatin1Char(digits[bytes[i] & 0x0F]);
    }
    return text;
}
