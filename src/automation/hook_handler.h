// The keyboard macro recorder: while recording, every key press and release of the session and
// the pause before it go to the page as "macroItem" events.
#pragma once

#include "command_registry.h"

#include <QElapsedTimer>
#include <QMap>
#include <QString>

#include <functional>
#include <memory>

struct CapturedKey;
class KeyCapture;
class PageEvents;

class MacroRecorder {
public:
    // Where the items go: the page's "macroItem" event, unless a sink is set.
    using ItemSink = std::function<void(const QString &, const QString &, const QString &, const QString &)>;

    // events may be null (items go to the sink only); it must outlive the recorder.
    explicit MacroRecorder(PageEvents *events);
    // Ends a capture still running.
    ~MacroRecorder();
    MacroRecorder(const MacroRecorder &) = delete;
    MacroRecorder &operator=(const MacroRecorder &) = delete;

    // (Re)starts the system-wide capture; false when it cannot start, and then nothing is
    // recorded (a capture that was running has ended).
    bool startRecording();
    // Ends the capture. Keys still held stay remembered, so their later release is not taken
    // for a new press.
    void stopRecording();
    bool isRecording() const;
    // Stops the capture when the page that asked for it ends (navigation, reload, close): the
    // next document, whoever wrote it, must not hear the keys typed on the desktop.
    void stopWithThePage();

    // One key event of the capture, on the UI thread.
    void recordKey(const CapturedKey &key);

    // An empty sink sends the items to the page again.
    void setItemSink(ItemSink sink) { m_sink = std::move(sink); }

private:
    qint64 now();
    void emitItem(const QString &a, const QString &b, const QString &c, const QString &d);
    void emitPause();
    void emitKey(bool down, unsigned scanCode, unsigned extended);

    PageEvents *m_events;
    // The page's end may come after the recorder is gone.
    std::shared_ptr<char> m_alive = std::make_shared<char>();
    bool m_watchingPage = false;
    ItemSink m_sink;
    std::unique_ptr<KeyCapture> m_capture;
    bool m_hookInstalled = false;
    bool m_firstEvent = true;
    // A monotonic clock: a time of day would give negative pauses across midnight or a clock
    // change.
    QElapsedTimer m_clock;
    qint64 m_lastEventTime = 0;
    QMap<unsigned, unsigned> m_heldKeys; // scan code → extended flag of the keys held down
};

// "startRecord" and "stopRecord"; recorder must outlive the registry's use of them.
void registerRecorderCommands(CommandRegistry &registry, MacroRecorder &recorder);
