#include "hook_handler.h"

#include "key_capture.h"
#include "page_events.h"

MacroRecorder::MacroRecorder(PageEvents *events) : m_events(events)
{
    m_clock.start();
}

MacroRecorder::~MacroRecorder()
{
    if (m_capture)
        m_capture->stop();
}

qint64 MacroRecorder::now()
{
    return m_clock.elapsed();
}

void MacroRecorder::emitItem(const QString &a, const QString &b, const QString &c, const QString &d)
{
    if (m_sink)
        m_sink(a, b, c, d);
    else if (m_events)
        m_events->macroItem(a, b, c, d);
}

void MacroRecorder::emitPause()
{
    const qint64 time = now();
    emitItem(QStringLiteral("2"), QString::number(time - m_lastEventTime), QStringLiteral("0"), QStringLiteral("0"));
    m_lastEventTime = time;
}

void MacroRecorder::emitKey(bool down, unsigned scanCode, unsigned extended)
{
    emitItem(QStringLiteral("0"), down ? QStringLiteral("1") : QStringLiteral("0"), QString::number(scanCode),
             QString::number(extended));
}

bool MacroRecorder::startRecording()
{
    if (m_hookInstalled && m_capture) {
        m_capture->stop();
        m_hookInstalled = false;
    }
    if (!m_capture)
        m_capture = KeyCapture::create();
    if (!m_capture->start([this](const CapturedKey &key) { recordKey(key); }))
        return false;
    m_firstEvent = true;
    m_lastEventTime = now();
    m_hookInstalled = true;
    return true;
}

void MacroRecorder::stopRecording()
{
    if (m_capture)
        m_capture->stop();
}

void MacroRecorder::stopWithThePage()
{
    if (!m_events || m_watchingPage)
        return;
    m_watchingPage = true;
    const std::weak_ptr<char> alive = m_alive;
    m_events->whenPageEnds([this, alive] {
        if (alive.expired())
            return;
        m_watchingPage = false;
        stopRecording();
    });
}

bool MacroRecorder::isRecording() const
{
    return m_capture && m_capture->isRunning();
}

void MacroRecorder::recordKey(const CapturedKey &key)
{
    const unsigned scanCode = key.scanCode;
    const unsigned extended = key.extended ? 1 : 0;
    if (key.down) {
        const auto held = m_heldKeys.constFind(scanCode);
        if (held != m_heldKeys.constEnd() && held.value() == extended)
            return; // auto-repeat: one down item however long the key is held
        if (m_firstEvent) {
            m_firstEvent = false;
            m_lastEventTime = now();
        } else {
            emitPause();
        }
        emitKey(true, scanCode, extended);
        m_heldKeys.insert(scanCode, extended);
    } else {
        // Also before the first item: a key held at the start is let go some time after it.
        emitPause();
        emitKey(false, scanCode, extended);
        m_heldKeys.remove(scanCode);
    }
}

void registerRecorderCommands(CommandRegistry &registry, MacroRecorder &recorder)
{
    registry.add(QStringLiteral("startRecord"), [&recorder](const CommandArgs &, const QueryCallbackPtr &callback) {
        // A page told "recording" while no key can arrive would wait for keys that never come.
        if (!recorder.startRecording()) {
            replyFailure(callback, 0, QStringLiteral("startRecord failed!"));
            return;
        }
        recorder.stopWithThePage();
        replySuccess(callback, QStringLiteral("startRecord success!"));
    });
    registry.add(QStringLiteral("stopRecord"), [&recorder](const CommandArgs &, const QueryCallbackPtr &callback) {
        recorder.stopRecording();
        replySuccess(callback, QStringLiteral("stopRecord success"));
    });
}
