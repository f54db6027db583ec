#include "device_rom.h"

#include "devices_handler.h"

static_assert(FirmwareRom::kBlockBufferSize == devices_handler::kBufferSize, "one buffer size for every library call");
static_assert(FirmwareRom::kMaxBlock == PADIO_MAX_ROM_BLOCK, "the loader's block limit");

DeviceRom::DeviceRom(devices_handler &handler, std::function<QString()> firstPad)
    : m_handler(handler), m_firstPad(std::move(firstPad))
{
}

QString DeviceRom::firstPadHardwareId()
{
    return m_firstPad ? m_firstPad() : QString();
}

bool DeviceRom::deviceExists(const QString &hardwareId)
{
    return m_handler.deviceExists(hardwareId);
}

bool DeviceRom::canRebootIntoLoader()
{
    return m_handler.hasRebootRom();
}

void DeviceRom::resetIntoLoader(const QString &hardwareId)
{
    m_handler.reset(hardwareId, 1);
}

void DeviceRom::eraseRom(const QString &loader)
{
    m_handler.eraseRom(loader);
}

bool DeviceRom::bornRom(const QString &loader, const Block &block, int length, int offset)
{
    return m_handler.bornRom(loader, block, length, offset);
}

bool DeviceRom::checkRom(const QString &loader, uint32_t length, uint32_t checkValue)
{
    return m_handler.checkRom(loader, length, checkValue);
}

void DeviceRom::finishUpdateRom(const QString &loader)
{
    m_handler.finishUpdateRom(loader);
}
