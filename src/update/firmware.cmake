# Firmware flashing: the sequence against the device library's loader functions (firmware_flash,
# which sees the library only through FirmwareRom) and its binding to devices_handler.
target_sources(vexa_update PRIVATE
  firmware_flash.h firmware_flash.cpp
  device_rom.h device_rom.cpp)
target_link_libraries(vexa_update PUBLIC vexa_device)
