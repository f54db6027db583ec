// The pad maker's device library, loaded at run time, and the two callbacks it calls us back on.
//
// Every function is resolved once, by name, when the handler is built; one the library lacks (or
// every one, without a library) is never called and counts as a failure.
// The callbacks arrive on the library's own threads and are handled there: the device table is
// refreshed and the page event raised without a hop to the UI thread, which keeps report latency
// low and lets the refresh see the library's state of the moment.
#pragma once

#include <padio.h>

#include <QByteArray>
#include <QLibrary>
#include <QObject>
#include <QStringList>

#include <array>
#include <atomic>
#include <functional>

class PageEvents;

class devices_handler : public QObject {
    Q_OBJECT
public:
    // The buffer every read and write goes through.
    static constexpr int kBufferSize = PADIO_BUFFER_SIZE;
    using Buffer = std::array<uint8_t, kBufferSize>;

    // Where the program's side of the callbacks goes. Defaults raise the page events through the
    // events given at construction; refresh does nothing until the application sets it.
    struct Sinks {
        std::function<void()> refresh;
        std::function<void(int)> devicesChanged;
        std::function<void(const QString &)> deviceData;
        std::function<void(const QString &)> browserMsg;
    };

    // Looks for the library in the application folder, then by its plain name. events (may be
    // null: nothing is raised) must outlive the handler.
    explicit devices_handler(PageEvents *events, QObject *parent = nullptr);
    // candidates: names for QLibrary, tried in order; none loads → no library at all.
    devices_handler(const QStringList &candidates, PageEvents *events, QObject *parent);
    // Waits for callbacks still running on library threads; none starts once this has begun.
    ~devices_handler() override;

    // Whether the library's callbacks reach this handler (the latest one built, while it lives).
    bool receivesCallbacks() const;

    bool isLoaded() const { return m_loaded; }
    QString libraryFileName() const { return m_library.fileName(); }
    // Replaces the sinks; callbacks in flight finish with the old ones first.
    void setSinks(Sinks sinks);
    void setRefresh(std::function<void()> refresh);
    Sinks sinks() const;

    // A copy of the library's device table (all zero without dcDevices). Finding a pad
    // re-registers the data callback for the first record.
    QByteArray enumerateDevices();

    // Reads cut size to 0…kBufferSize and report whether the library read (its result 0): an
    // absent function or a pad that did not answer is a failure, never a buffer of zeros. Writes
    // of more than kBufferSize bytes fail without reaching the library.
    bool readProp(const QString &hardwareId, Buffer &buffer, int size, int propertyId);
    bool writeProp(const QString &hardwareId, const Buffer &buffer, int size, int propertyId);
    bool read(const QString &hardwareId, Buffer &buffer, int size, int address);
    bool write(const QString &hardwareId, const Buffer &buffer, int size, int address);
    // value: low byte the notification type, high byte its data.
    bool notify(const QString &hardwareId, int value);

    // The loader side of a firmware update. An absent function is never called: the
    // result-bearing ones then report failure, the others do nothing.
    bool deviceExists(const QString &hardwareId);
    bool hasRebootRom() const { return m_dcRebootRom != nullptr; }
    // Code 1 restarts the pad into its loader.
    void reset(const QString &hardwareId, int code);
    void eraseRom(const QString &hardwareId);
    // length: at most PADIO_MAX_ROM_BLOCK bytes of buffer, written at offset in the image.
    bool bornRom(const QString &hardwareId, const Buffer &buffer, int length, int offset);
    bool checkRom(const QString &hardwareId, uint32_t length, uint32_t checkValue);
    void finishUpdateRom(const QString &hardwareId);

    // Raised on the page after a property write.
    void browserMessage(const QString &text);

    // The callbacks as the library calls them.
    static int32_t deviceEventCallback(uint32_t event);
    static int32_t deviceDataCallback(const padio_data_cell *cell, uint32_t reserved);
    // Eight report bytes as 16 lower-case hex digits, first byte first.
    static QString reportText(const uint8_t *bytes);

    static int clampSize(int size);

private:
    // A callback's claim on the handler for its whole run (devices_handler.cpp).
    class CallbackScope;

    void load(const QStringList &candidates);
    void onDeviceEvent(uint32_t event);

    QLibrary m_library;
    bool m_loaded = false;
    Sinks m_sinks;
    // Callbacks running with this handler; guarded by the callback mutex of devices_handler.cpp.
    int m_callbacksInFlight = 0;
    // Which device events are acted on: the first of every five (a pad's interfaces each report).
    std::atomic<unsigned> m_eventCounter{0};

    PFN_dcDeviceExist m_dcDeviceExist = nullptr;
    PFN_dcDevices m_dcDevices = nullptr;
    PFN_dcOnDeviceEvent m_dcOnDeviceEvent = nullptr;
    PFN_dconDeviceData m_dconDeviceData = nullptr;
    PFN_dcNotify m_dcNotify = nullptr;
    PFN_dcReset m_dcReset = nullptr;
    PFN_dcRead m_dcRead = nullptr;
    PFN_dcWrite m_dcWrite = nullptr;
    PFN_dcReadProp m_dcReadProp = nullptr;
    PFN_dcWriteProp m_dcWriteProp = nullptr;
    PFN_dcEraseRom m_dcEraseRom = nullptr;
    PFN_dcBornRom m_dcBornRom = nullptr;
    PFN_dcCheckRom m_dcCheckRom = nullptr;
    PFN_dcFinishUpdateRom m_dcFinishUpdateRom = nullptr;
    PFN_dcAsk m_dcAsk = nullptr;
    PFN_dcScriptOut m_dcScriptOut = nullptr;
    PFN_dcIDWrite m_dcIDWrite = nullptr;
    PFN_dcRebootRom m_dcRebootRom = nullptr;
};
