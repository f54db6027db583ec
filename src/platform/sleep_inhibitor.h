// Keeps the machine from suspending (and the session from going idle into a suspend) while an
// object lives, where the system offers that; elsewhere it does nothing. For work that a suspend
// would break halfway, such as writing a pad's firmware.
#pragma once

#include <QString>

#include <memory>

namespace platform {

class SleepInhibitor {
public:
    // why: shown by the system to whoever asks what holds the machine awake.
    explicit SleepInhibitor(const QString &why);
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor &) = delete;
    SleepInhibitor &operator=(const SleepInhibitor &) = delete;

    // Whether the system granted the hold.
    bool active() const;

private:
    struct Hold;
    std::unique_ptr<Hold> m_hold;
};

} // namespace platform
