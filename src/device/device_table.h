// The device table the library fills: a 2-byte little-endian record count, then up to 20 packed
// records of 2105 bytes. Reading never trusts the library's count or its text terminators.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

struct DeviceInfo {
    QString DeviceID;
    QString SN;
    QString Version;
    QString HardwareID;
    QString DevicePath;
    QString MASK;

    bool operator==(const DeviceInfo &other) const
    {
        return DeviceID == other.DeviceID && SN == other.SN && Version == other.Version &&
               HardwareID == other.HardwareID && DevicePath == other.DevicePath && MASK == other.MASK;
    }
};

using DeviceMap = QMap<QString, DeviceInfo>;
using DeviceSightings = QMap<QString, int>;

namespace device_table {

constexpr int kTableSize = 42102;
constexpr int kMaxRecords = 20;
constexpr int kRecordSize = 2105;

// The number of records, never more than the table can hold (a short buffer holds fewer).
int recordCount(const QByteArray &table);
// Record i (0 ≤ i < recordCount); texts end at their first zero or at their field's end.
DeviceInfo record(const QByteArray &table, int i);
// The DeviceID field's bytes up to the first zero: the catalogue compares these.
QByteArray deviceIdBytes(const QByteArray &table, int i);

// One refresh of the application's pads: map replaced by the table's records (a later record
// with the same DeviceID wins), every record counted once more in sightings.
void apply(const QByteArray &table, DeviceMap *map, DeviceSightings *sightings);

} // namespace device_table
