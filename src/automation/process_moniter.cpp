#include "process_moniter.h"

#include "cef_app.h"
#include "client_handler.h"
#include "mode_bindings.h"
#include "process_list.h"

#include <QMutexLocker>
#include <QThread>

#include <string>
#include <unordered_map>

ProcessMoniter::ProcessMoniter(QThread *thread, const QString &configurationPath, int periodMs)
    : m_configurationPath(configurationPath), m_periodMs(periodMs)
{
    moveToThread(thread);
    connect(thread, &QThread::started, this, &ProcessMoniter::start);
}

ProcessMoniter::~ProcessMoniter() = default;

void ProcessMoniter::stop()
{
    QMutexLocker lock(&m_wakeLock);
    running = false;
    m_wake.wakeAll();
}

void ProcessMoniter::start()
{
    loadBindings();
    pollLoop();
}

void ProcessMoniter::loadBindings()
{
    bindings = ModeBindings::byProgram(ModeBindings::read(m_configurationPath));
    runningState.clear();
    for (auto it = bindings.cbegin(); it != bindings.cend(); ++it)
        runningState.insert(it.key(), false);
}

bool ProcessMoniter::pause()
{
    QMutexLocker lock(&m_wakeLock);
    if (running)
        m_wake.wait(&m_wakeLock, ulong(m_periodMs));
    return running;
}

bool ProcessMoniter::scan(QMap<QString, bool> *seen, bool *complete)
{
    // Compared as bytes: the paths match exactly, letter case included.
    std::unordered_map<std::string, QString> wanted;
    for (auto it = bindings.cbegin(); it != bindings.cend(); ++it) {
        wanted.emplace(it.key().toStdString(), it.key());
        seen->insert(it.key(), false);
    }
    std::string path;
    *complete = true;
    const bool listed = ProcessList::forEachImagePath([&](const char *image, size_t length) {
        if (!running) {
            *complete = false;
            return false;
        }
        path.assign(image, length);
        const auto found = wanted.find(path);
        if (found != wanted.end())
            (*seen)[found->second] = true;
        return true;
    });
    return listed;
}

void ProcessMoniter::pollLoop()
{
    if (bindings.isEmpty())
        return;
    while (running) {
        if (!pause())
            break;
        QMap<QString, bool> seen;
        bool complete = false;
        if (!scan(&seen, &complete))
            break; // no process list: only a restart brings the monitor back
        if (!complete)
            break;
        if (seen != runningState && seen.size() == runningState.size()) {
            for (auto it = seen.cbegin(); it != seen.cend(); ++it) {
                if (it.value() == runningState.value(it.key()))
                    continue;
                CEF_LOG_INFO(QStringLiteral("current process status changed!"));
                CEF_LOG_INFO(QStringLiteral("%1  become %2").arg(it.key()).arg(it.value() ? 1 : 0));
                const QString index = bindings.value(it.key());
                if (CefRefPtr<ClientHandler> handler = ClientHandler::current())
                    handler->onProcessChanged(index, it.value());
                emit processChanged(index, it.value());
            }
        }
        runningState = seen;
    }
}
