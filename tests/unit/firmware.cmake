# Firmware flashing against a recording stand-in for the device library.
vexa_unit_test(tst_firmware_flash LIBS vexa_update)
