// The flash's view of the device library: devices_handler's loader functions, and the first pad
// of the application's device table.
#pragma once

#include "firmware_flash.h"

#include <functional>

class devices_handler;

class DeviceRom : public FirmwareRom {
public:
    // firstPad: the HardwareID of the first pad in the application's device table, empty
    // without one. handler must outlive this object.
    DeviceRom(devices_handler &handler, std::function<QString()> firstPad);

    QString firstPadHardwareId() override;
    bool deviceExists(const QString &hardwareId) override;
    bool canRebootIntoLoader() override;
    void resetIntoLoader(const QString &hardwareId) override;
    void eraseRom(const QString &loader) override;
    bool bornRom(const QString &loader, const Block &block, int length, int offset) override;
    bool checkRom(const QString &loader, uint32_t length, uint32_t checkValue) override;
    void finishUpdateRom(const QString &loader) override;

private:
    devices_handler &m_handler;
    std::function<QString()> m_firstPad;
};
