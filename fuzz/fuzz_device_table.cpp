// The device table as the pad library fills it: any bytes, any claimed count.
#include "device_table.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The library's buffer is always the full table; shorter and longer inputs test the bounds.
    const QByteArray table = fuzz::bytes(data, size);
    const int count = device_table::recordCount(table);
    fuzz::require(count >= 0 && count <= device_table::kMaxRecords, "record count within the table");
    fuzz::require(count == 0 || 2 + qint64(count) * device_table::kRecordSize <= table.size(), "records inside the buffer");
    for (int i = 0; i < count; ++i) {
        const DeviceInfo info = device_table::record(table, i);
        fuzz::require(device_table::deviceIdBytes(table, i).size() <= 40, "DeviceID within its field");
        fuzz::require(info.HardwareID.size() <= 255 && info.DevicePath.size() <= 255, "wide texts within their fields");
    }
    DeviceMap map;
    DeviceSightings sightings;
    device_table::apply(table, &map, &sightings);
    fuzz::require(map.size() <= count, "one entry per record at most");
    return 0;
}
