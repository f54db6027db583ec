// System-wide keyboard capture: every key press and release of the session, whichever window
// has the focus, reported as the hardware scan code a Windows keyboard gives for the key.
#pragma once

#include <functional>
#include <memory>

struct CapturedKey {
    bool down = false;        // press (auto-repeats included) or release
    unsigned scanCode = 0;    // set-1 make code without its prefix
    bool extended = false;    // the key's code carries the E0 prefix (Windows' extended-key flag)
};

class KeyCapture {
public:
    using Handler = std::function<void(const CapturedKey &)>;

    virtual ~KeyCapture() = default;

    // Starts delivering keys to handler, on the calling thread (which must run a Qt event loop)
    // and in the order they happened. Keys the capture cannot name by a scan code are left out.
    // False when the system offers no capture; nothing is delivered then.
    virtual bool start(Handler handler) = 0;
    // Ends the capture; keys not yet delivered are dropped. Harmless when not started.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;

    // The backend of this platform.
    static std::unique_ptr<KeyCapture> create();
};
