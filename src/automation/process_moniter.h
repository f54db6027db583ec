// Watches the running processes for the programs bound to the pad's modes and tells the page
// when one starts or ends.
#pragma once

#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QWaitCondition>

#include <atomic>

class QThread;

class ProcessMoniter : public QObject {
    Q_OBJECT
public:
    static constexpr int kPeriodMs = 3000;

    // Moves itself to thread and starts when the thread does. The bindings come from
    // configurationPath; periodMs is the pause before each scan.
    ProcessMoniter(QThread *thread, const QString &configurationPath, int periodMs = kPeriodMs);
    ~ProcessMoniter() override;

    // From any thread: ends the loop at once, cutting short its pause or a scan in progress.
    void stop();
    bool isRunning() const { return running.load(); }

signals:
    // index: the mode's index; state: the program now runs. Raised on the monitor's thread.
    void processChanged(const QString &index, bool state);

public slots:
    void start();

private:
    void loadBindings();
    void pollLoop();
    // False when the process list could not be read; *complete false when stopped half-way.
    bool scan(QMap<QString, bool> *seen, bool *complete);
    bool pause();

    QMap<QString, QString> bindings;    // program path → mode index
    QMap<QString, bool> runningState;   // program path → seen in the last scan
    std::atomic<bool> running{true};

    QString m_configurationPath;
    int m_periodMs;
    QMutex m_wakeLock;
    QWaitCondition m_wake;
};
