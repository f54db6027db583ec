#include "process_moniter.h"

#include "crash_handler.h"
#include "mode_bindings.h"
#include "page_events.h"
#include "process_list.h"
#include "program_match.h"
#include "runtime_log.h"

#include <QLoggingCategory>
#include <QThread>
#include <QTimer>

Q_LOGGING_CATEGORY(lcMonitor, "vexa.automation")

ProcessMoniter::ProcessMoniter(QThread *thread, const QString &configurationPath, int periodMs, PageEvents *events)
    : m_configurationPath(configurationPath), m_periodMs(periodMs), m_events(events), m_match(new ProgramMatch)
{
    moveToThread(thread);
    connect(thread, &QThread::started, this, &ProcessMoniter::start);
}

ProcessMoniter::~ProcessMoniter() = default;

void ProcessMoniter::stop()
{
    running = false;
}

void ProcessMoniter::start()
{
    loadBindings();
    if (bindings.isEmpty() || !running)
        return; // nothing to watch: the thread idles until its owner quits it
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &ProcessMoniter::scanOnce);
    // A timer is stopped on its own thread; the owner deletes the monitor after the thread ends.
    connect(thread(), &QThread::finished, m_timer, &QTimer::stop, Qt::DirectConnection);
    m_timer->start(m_periodMs);
}

void ProcessMoniter::reportAgain()
{
    if (!running)
        return;
    for (auto it = runningState.cbegin(); it != runningState.cend(); ++it)
        if (it.value())
            tell(it.key(), true);
}

void ProcessMoniter::tell(const QString &program, bool runs)
{
    const QString index = bindings.value(program);
    if (m_events)
        m_events->onProcessChanged(index, runs);
    emit processChanged(index, runs);
}

void ProcessMoniter::loadBindings()
{
    bindings = ModeBindings::byProgram(ModeBindings::read(m_configurationPath));
    runningState.clear();
    for (auto it = bindings.cbegin(); it != bindings.cend(); ++it)
        runningState.insert(it.key(), false);
}

bool ProcessMoniter::scan(QMap<QString, bool> *seen, bool *complete)
{
    // Compared as bytes: the paths match exactly, letter case included.
    m_match->beginScan(bindings.keys());
    for (auto it = bindings.cbegin(); it != bindings.cend(); ++it)
        seen->insert(it.key(), false);
    *complete = true;
    const bool listed = ProcessList::forEachProcess([&](int pid, const char *image, size_t length) {
        if (!running) {
            *complete = false;
            return false;
        }
        m_match->visit(pid, image, length, seen);
        return true;
    });
    if (listed && *complete)
        m_match->endScan();
    return listed;
}

void ProcessMoniter::scanOnce()
{
    if (!running)
        return;
    QMap<QString, bool> seen;
    bool complete = false;
    if (!scan(&seen, &complete)) {
        // No process list: only a restart brings the monitor back.
        qCWarning(lcMonitor) << "the process list cannot be read; bound programs are no longer watched";
        m_timer->stop();
        return;
    }
    if (!complete)
        return;
    if (seen != runningState && seen.size() == runningState.size()) {
        for (auto it = seen.cbegin(); it != seen.cend(); ++it) {
            if (it.value() == runningState.value(it.key()))
                continue;
            CEF_LOG_INFO(QStringLiteral("current process status changed!"));
            CEF_LOG_INFO(QStringLiteral("%1  become %2").arg(it.key()).arg(it.value() ? 1 : 0));
            tell(it.key(), it.value());
        }
    }
    runningState = seen;
}

ProcessMonitorThread::ProcessMonitorThread(QString configurationPath, PageEvents *events, int periodMs)
    : m_configurationPath(std::move(configurationPath)), m_events(events), m_periodMs(periodMs)
{
}

ProcessMonitorThread::~ProcessMonitorThread()
{
    stop();
}

void ProcessMonitorThread::restart()
{
    stop();
    m_thread.reset(new platform::CrashReadyThread);
    m_thread->setObjectName(QStringLiteral("process monitor"));
    m_monitor.reset(new ProcessMoniter(m_thread.get(), m_configurationPath, m_periodMs, m_events));
    m_thread->start(QThread::InheritPriority);
}

void ProcessMonitorThread::reportAgain()
{
    if (m_monitor)
        QMetaObject::invokeMethod(m_monitor.get(), &ProcessMoniter::reportAgain, Qt::QueuedConnection);
}

void ProcessMonitorThread::stop()
{
    if (!m_thread)
        return;
    m_monitor->stop();
    m_thread->quit();
    m_thread->wait();
    m_monitor.reset();
    m_thread.reset();
}
