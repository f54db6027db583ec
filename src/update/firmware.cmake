# Firmware flashing: the sequence against the device library's loader functions, which it sees
# only through FirmwareRom; the application binds FirmwareRom to the pads (DeviceRom).
target_sources(vexa_update PRIVATE
  firmware_flash.h firmware_flash.cpp)
