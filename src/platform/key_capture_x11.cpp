// Key capture through the X RECORD extension. The server copies every key event of every client
// to a connection of ours; a thread of its own blocks on that connection and hands each event to
// the thread that started the capture.
#include "crash_handler.h"
#include "x11_backend.h"
#include "x11_scan_codes.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QObject>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "x11_private.h"

Q_LOGGING_CATEGORY(lcKeyCapture, "vexa.platform.keycapture")

namespace {

// Core protocol event codes (x11_private.h takes Xlib's names for them away: they would meet
// Qt's own).
constexpr unsigned char kKeyPressEvent = 2;
constexpr unsigned char kKeyReleaseEvent = 3;

class X11KeyCapture final : public KeyCapture {
public:
    ~X11KeyCapture() override { stop(); }

    bool start(Handler handler) override
    {
        stop();
        m_control = XOpenDisplay(nullptr);
        if (!m_control) {
            qCWarning(lcKeyCapture) << "no X display; keys are not captured";
            return false;
        }
        int major = 0;
        int minor = 0;
        if (!XRecordQueryVersion(m_control, &major, &minor)) {
            qCWarning(lcKeyCapture) << "the X server lacks the RECORD extension; keys are not captured";
            closeDisplays();
            return false;
        }
        // Replies of the enabled context arrive on this second connection, which the capture
        // thread alone reads; the first one stays free to disable the context.
        m_data = XOpenDisplay(nullptr);
        XRecordRange *range = XRecordAllocRange();
        if (!m_data || !range) {
            if (range)
                XFree(range);
            closeDisplays();
            return false;
        }
        range->device_events.first = kKeyPressEvent;
        range->device_events.last = kKeyReleaseEvent;
        XRecordClientSpec clients = XRecordAllClients;
        m_context = XRecordCreateContext(m_control, 0, &clients, 1, &range, 1);
        XFree(range);
        if (!m_context) {
            qCWarning(lcKeyCapture) << "RECORD context refused; keys are not captured";
            closeDisplays();
            return false;
        }
        // The data connection must not use the context before the server has created it.
        XSync(m_control, False);

        m_handler = std::move(handler);
        m_receiver = new QObject;
        m_state = Enabling;
        m_thread = std::thread([this] {
            platform::prepareThreadForCrashes();
            const int enabled = XRecordEnableContext(m_data, m_context, &X11KeyCapture::intercept,
                                                     reinterpret_cast<XPointer>(this));
            std::lock_guard<std::mutex> lock(m_stateLock);
            if (!enabled && m_state == Enabling)
                m_state = Failed;
            m_stateChanged.notify_all();
        });
        m_running = true;
        // Keys typed right after the start must not be lost: wait until the server reports the
        // context enabled.
        bool enabled;
        {
            std::unique_lock<std::mutex> lock(m_stateLock);
            m_stateChanged.wait_for(lock, std::chrono::seconds(2), [this] { return m_state != Enabling; });
            enabled = m_state == Enabled;
        }
        if (!enabled) {
            qCWarning(lcKeyCapture) << "RECORD context could not be enabled; keys are not captured";
            stop();
        }
        return enabled;
    }

    void stop() override
    {
        if (!m_running)
            return;
        // The blocked enable call returns once the server has sent the end of the data.
        XRecordDisableContext(m_control, m_context);
        XSync(m_control, False);
        m_thread.join();
        XRecordFreeContext(m_control, m_context);
        m_context = 0;
        closeDisplays();
        // Deleting the receiver discards the keys still queued for it.
        delete m_receiver;
        m_receiver = nullptr;
        m_handler = nullptr;
        m_running = false;
    }

    bool isRunning() const override { return m_running; }

private:
    static void intercept(XPointer closure, XRecordInterceptData *data)
    {
        auto *self = reinterpret_cast<X11KeyCapture *>(closure);
        if (data->category == XRecordStartOfData) {
            std::lock_guard<std::mutex> lock(self->m_stateLock);
            self->m_state = Enabled;
            self->m_stateChanged.notify_all();
        }
        // A device event is one 32-byte core event: type, then the key code as its detail.
        if (data->category == XRecordFromServer && data->data_len * 4 >= 32) {
            const unsigned char type = data->data[0] & 0x7f;
            CapturedKey key;
            if ((type == kKeyPressEvent || type == kKeyReleaseEvent) &&
                X11ScanCodes::fromKeyCode(data->data[1], &key)) {
                key.down = type == kKeyPressEvent;
                // Queued events to one receiver keep the order they were posted in.
                QMetaObject::invokeMethod(
                    self->m_receiver, [self, key] { self->m_handler(key); }, Qt::QueuedConnection);
            }
        }
        XRecordFreeData(data);
    }

    void closeDisplays()
    {
        if (m_data)
            XCloseDisplay(m_data);
        if (m_control)
            XCloseDisplay(m_control);
        m_data = nullptr;
        m_control = nullptr;
    }

    Display *m_control = nullptr;
    Display *m_data = nullptr;
    XRecordContext m_context = 0;
    std::thread m_thread;
    QObject *m_receiver = nullptr;
    Handler m_handler;
    bool m_running = false;
    enum State { Enabling, Enabled, Failed };
    State m_state = Enabling;
    std::mutex m_stateLock;
    std::condition_variable m_stateChanged;
};

} // namespace

std::unique_ptr<KeyCapture> platform::X11Backend::createKeyCapture()
{
    return std::make_unique<X11KeyCapture>();
}
