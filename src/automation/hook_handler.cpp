#include "hook_handler.h"

#include "client_handler.h"
#include "key_capture.h"

#include <QElapsedTimer>
#include <QMap>

#include <memory>

namespace HookHandler {

namespace {

struct Recorder {
    std::unique_ptr<KeyCapture> capture;
    bool hookInstalled = false;
    bool firstEvent = true;
    // A monotonic clock: a time of day would give negative pauses across midnight or a clock
    // change.
    QElapsedTimer clock;
    qint64 lastEventTime = 0;
    QMap<unsigned, unsigned> heldKeys; // scan code → extended flag of the keys held down
    ItemSink sink;
};

Recorder &recorder()
{
    static Recorder instance;
    return instance;
}

qint64 now()
{
    Recorder &r = recorder();
    if (!r.clock.isValid())
        r.clock.start();
    return r.clock.elapsed();
}

void emitItem(const QString &a, const QString &b, const QString &c, const QString &d)
{
    Recorder &r = recorder();
    if (r.sink) {
        r.sink(a, b, c, d);
        return;
    }
    if (CefRefPtr<ClientHandler> handler = ClientHandler::current())
        handler->macroItem(a, b, c, d);
}

void emitPause()
{
    Recorder &r = recorder();
    const qint64 time = now();
    emitItem(QStringLiteral("2"), QString::number(time - r.lastEventTime), QStringLiteral("0"), QStringLiteral("0"));
    r.lastEventTime = time;
}

void emitKey(bool down, unsigned scanCode, unsigned extended)
{
    emitItem(QStringLiteral("0"), down ? QStringLiteral("1") : QStringLiteral("0"), QString::number(scanCode),
             QString::number(extended));
}

} // namespace

void startRecording()
{
    Recorder &r = recorder();
    if (r.hookInstalled && r.capture) {
        r.capture->stop();
        r.hookInstalled = false;
    }
    if (!r.capture)
        r.capture = KeyCapture::create();
    if (!r.capture->start(recordKey))
        return;
    r.firstEvent = true;
    r.lastEventTime = now();
    r.hookInstalled = true;
}

void stopRecording()
{
    Recorder &r = recorder();
    if (r.capture)
        r.capture->stop();
}

bool isRecording()
{
    Recorder &r = recorder();
    return r.capture && r.capture->isRunning();
}

void recordKey(const CapturedKey &key)
{
    Recorder &r = recorder();
    const unsigned scanCode = key.scanCode;
    const unsigned extended = key.extended ? 1 : 0;
    if (key.down) {
        const auto held = r.heldKeys.constFind(scanCode);
        if (held != r.heldKeys.constEnd() && held.value() == extended)
            return; // auto-repeat: one down item however long the key is held
        if (r.firstEvent) {
            r.firstEvent = false;
            r.lastEventTime = now();
        } else {
            emitPause();
        }
        emitKey(true, scanCode, extended);
        r.heldKeys.insert(scanCode, extended);
    } else {
        // Also before the first item: a key held at the start is let go some time after it.
        emitPause();
        emitKey(false, scanCode, extended);
        r.heldKeys.remove(scanCode);
    }
}

void setItemSink(ItemSink sink)
{
    recorder().sink = std::move(sink);
}

void startRecord(vexa &, const CommandArgs &, const vexa::Callback &callback)
{
    startRecording();
    // The page learns nothing of a capture that could not start: it simply gets no items.
    vexa::replySuccess(callback, QStringLiteral("startRecord success!"));
}

void stopRecord(vexa &, const CommandArgs &, const vexa::Callback &callback)
{
    stopRecording();
    vexa::replySuccess(callback, QStringLiteral("stopRecord success"));
}

} // namespace HookHandler
