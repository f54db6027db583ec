// Watches the running processes for the programs bound to the pad's modes and tells the page
// when one starts or ends.
#pragma once

#include <QMap>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class PageEvents;
class ProgramMatch;
class QThread;
class QTimer;

class ProcessMoniter : public QObject {
    Q_OBJECT
public:
    static constexpr int kPeriodMs = 3000;

    // Moves itself to thread and starts when the thread does. The bindings come from
    // configurationPath; a scan runs every periodMs. events (may be null) hears every change
    // directly from the monitor's thread and must outlive it.
    ProcessMoniter(QThread *thread, const QString &configurationPath, int periodMs = kPeriodMs,
                   PageEvents *events = nullptr);
    ~ProcessMoniter() override;

    // From any thread: no scan starts after this, and one in progress is cut short. The owner
    // then quits the thread, whose event loop is free between scans.
    void stop();
    bool isRunning() const { return running.load(); }

signals:
    // index: the mode's index; state: the program now runs. Raised on the monitor's thread.
    void processChanged(const QString &index, bool state);

public slots:
    void start();
    // Tells again of every bound program the last scan saw running, for a page that has just
    // started and knows of none.
    void reportAgain();

private:
    void loadBindings();
    void scanOnce();
    // Tells the page and the signal's listeners that the bound program now runs or not.
    void tell(const QString &program, bool runs);
    // False when the process list could not be read; *complete false when stopped half-way.
    bool scan(QMap<QString, bool> *seen, bool *complete);

    QMap<QString, QString> bindings;    // program path → mode index
    QMap<QString, bool> runningState;   // program path → seen in the last scan
    std::atomic<bool> running{true};

    QString m_configurationPath;
    int m_periodMs;
    PageEvents *m_events;
    std::unique_ptr<ProgramMatch> m_match; // only touched by the monitor's thread
    QTimer *m_timer = nullptr; // lives on the monitor's thread
};

// One process monitor on a thread of its own. restart() replaces it by one that reads the
// bindings afresh; the destructor stops and joins it.
class ProcessMonitorThread {
public:
    ProcessMonitorThread(QString configurationPath, PageEvents *events, int periodMs = ProcessMoniter::kPeriodMs);
    ~ProcessMonitorThread();
    ProcessMonitorThread(const ProcessMonitorThread &) = delete;
    ProcessMonitorThread &operator=(const ProcessMonitorThread &) = delete;

    void restart();
    // From the owner's thread: the monitor tells again which bound programs run (on its thread,
    // between scans).
    void reportAgain();
    // Stops the monitor and waits for its thread; short, as stopping cuts a scan short.
    void stop();
    bool isRunning() const { return m_monitor != nullptr; }
    ProcessMoniter *monitor() const { return m_monitor.get(); }

private:
    QString m_configurationPath;
    PageEvents *m_events;
    int m_periodMs;
    std::unique_ptr<QThread> m_thread;
    std::unique_ptr<ProcessMoniter> m_monitor;
};
