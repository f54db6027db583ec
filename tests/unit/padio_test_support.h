// Loads the built device library the way the program does (QLibrary, each function by name) and
// records what its callbacks receive. Shared by the library's and padctl's tests.
#ifndef PADIO_TEST_SUPPORT_H
#define PADIO_TEST_SUPPORT_H

#include "padio.h"

#include <QByteArray>
#include <QLibrary>
#include <QMutex>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstring>
#include <thread>

struct PadioFunctions {
    PFN_dcDeviceExist dcDeviceExist = nullptr;
    PFN_dcDevices dcDevices = nullptr;
    PFN_dcOnDeviceEvent dcOnDeviceEvent = nullptr;
    PFN_dconDeviceData dconDeviceData = nullptr;
    PFN_dcNotify dcNotify = nullptr;
    PFN_dcReset dcReset = nullptr;
    PFN_dcRead dcRead = nullptr;
    PFN_dcWrite dcWrite = nullptr;
    PFN_dcReadProp dcReadProp = nullptr;
    PFN_dcWriteProp dcWriteProp = nullptr;
    PFN_dcEraseRom dcEraseRom = nullptr;
    PFN_dcBornRom dcBornRom = nullptr;
    PFN_dcCheckRom dcCheckRom = nullptr;
    PFN_dcFinishUpdateRom dcFinishUpdateRom = nullptr;
    PFN_dcAsk dcAsk = nullptr;
    PFN_dcScriptOut dcScriptOut = nullptr;
    PFN_dcIDWrite dcIDWrite = nullptr;
    PFN_dcRebootRom dcRebootRom = nullptr;
};

// Resolves all 18 functions; false (with the missing names) when any is absent.
inline bool loadPadio(QLibrary *library, PadioFunctions *f, QString *missing)
{
    library->setFileName(QStringLiteral(PADIO_LIBRARY));
    if (!library->load()) {
        *missing = library->errorString();
        return false;
    }
    missing->clear();
    auto resolve = [&](auto *slot, const char *name) {
        *slot = reinterpret_cast<std::remove_pointer_t<decltype(slot)>>(library->resolve(name));
        if (!*slot)
            *missing += QLatin1String(name) + QLatin1Char(' ');
    };
    resolve(&f->dcDeviceExist, "dcDeviceExist");
    resolve(&f->dcDevices, "dcDevices");
    resolve(&f->dcOnDeviceEvent, "dcOnDeviceEvent");
    resolve(&f->dconDeviceData, "dconDeviceData");
    resolve(&f->dcNotify, "dcNotify");
    resolve(&f->dcReset, "dcReset");
    resolve(&f->dcRead, "dcRead");
    resolve(&f->dcWrite, "dcWrite");
    resolve(&f->dcReadProp, "dcReadProp");
    resolve(&f->dcWriteProp, "dcWriteProp");
    resolve(&f->dcEraseRom, "dcEraseRom");
    resolve(&f->dcBornRom, "dcBornRom");
    resolve(&f->dcCheckRom, "dcCheckRom");
    resolve(&f->dcFinishUpdateRom, "dcFinishUpdateRom");
    resolve(&f->dcAsk, "dcAsk");
    resolve(&f->dcScriptOut, "dcScriptOut");
    resolve(&f->dcIDWrite, "dcIDWrite");
    resolve(&f->dcRebootRom, "dcRebootRom");
    return missing->isEmpty();
}

// Independent of the library's table-driven one on purpose.
inline uint32_t bitwiseCrc32(const QByteArray &bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (char byte : bytes) {
        crc ^= uint8_t(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

inline const padio_char *wide(const QString &text)
{
    return reinterpret_cast<const padio_char *>(text.utf16());
}

// What the callbacks saw. The library calls them on its own thread, so everything is locked.
struct CallbackLog {
    struct Event {
        uint32_t code;
        bool onCallerThread;
        int devicesSeen; // dcDevices' count, asked from inside the callback as the program does
    };
    QMutex mutex;
    std::thread::id callerThread;
    PFN_dcDevices dcDevices = nullptr;
    QVector<Event> events;
    QVector<QByteArray> reports;
    bool reportOnCallerThread = false;

    void reset(PFN_dcDevices devices)
    {
        QMutexLocker lock(&mutex);
        callerThread = std::this_thread::get_id();
        dcDevices = devices;
        events.clear();
        reports.clear();
        reportOnCallerThread = false;
    }
    int eventCount()
    {
        QMutexLocker lock(&mutex);
        return events.size();
    }
    int reportCount()
    {
        QMutexLocker lock(&mutex);
        return reports.size();
    }
};

inline CallbackLog &callbackLog()
{
    static CallbackLog log;
    return log;
}

inline int32_t recordEvent(uint32_t code)
{
    CallbackLog &log = callbackLog();
    PFN_dcDevices devices;
    {
        QMutexLocker lock(&log.mutex);
        devices = log.dcDevices;
    }
    int seen = -1;
    if (devices) {
        static uint8_t table[PADIO_TABLE_SIZE];
        std::memset(table, 0, sizeof table);
        padio_filter filter {};
        filter.words[0] = 0xFFA00001;
        filter.words[1] = 0xFFAA0001;
        devices(filter, table, PADIO_TABLE_SIZE);
        seen = table[0] | table[1] << 8;
    }
    QMutexLocker lock(&log.mutex);
    log.events.append({code, std::this_thread::get_id() == log.callerThread, seen});
    return 1;
}

inline int32_t recordReport(const padio_data_cell *cell, uint32_t)
{
    CallbackLog &log = callbackLog();
    QMutexLocker lock(&log.mutex);
    log.reports.append(QByteArray(reinterpret_cast<const char *>(cell->data), 8));
    log.reportOnCallerThread |= std::this_thread::get_id() == log.callerThread;
    return 1;
}

struct PadctlResult {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs padctl with the test's environment (PADIO_HOME included).
inline PadctlResult padctl(const QStringList &arguments, int timeoutMs = 20000)
{
    QProcess process;
    process.start(QStringLiteral(PADCTL), arguments);
    PadctlResult result;
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        result.err = QStringLiteral("padctl did not finish");
        return result;
    }
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

#endif
