#include "device_table.h"

#include <padio.h>

#include <algorithm>
#include <cstring>

namespace device_table {

static_assert(kTableSize == PADIO_TABLE_SIZE && kMaxRecords == PADIO_MAX_DEVICES && kRecordSize == PADIO_RECORD_SIZE,
              "device table layout disagrees with the library's");

namespace {

const char *recordStart(const QByteArray &table, int i)
{
    return table.constData() + 2 + i * kRecordSize;
}

QByteArray narrowField(const char *field, int size)
{
    const void *zero = std::memchr(field, 0, size_t(size));
    return QByteArray(field, zero ? int(static_cast<const char *>(zero) - field) : size);
}

QString wideField(const char *field, int size)
{
    QString text;
    const int units = size / 2;
    text.reserve(units);
    for (int u = 0; u < units; ++u) {
        const ushort unit = ushort(uchar(field[2 * u]) | (uchar(field[2 * u + 1]) << 8));
        if (unit == 0)
            break;
        text.append(QChar(unit));
    }
    return text;
}

} // namespace

int recordCount(const QByteArray &table)
{
    if (table.size() < 2)
        return 0;
    const int claimed = uchar(table[0]) | (uchar(table[1]) << 8);
    const int fitting = (table.size() - 2) / kRecordSize;
    return std::min({claimed, kMaxRecords, fitting});
}

QByteArray deviceIdBytes(const QByteArray &table, int i)
{
    return narrowField(recordStart(table, i) + PADIO_REC_DEVICE_ID, PADIO_REC_DEVICE_ID_SIZE);
}

DeviceInfo record(const QByteArray &table, int i)
{
    const char *r = recordStart(table, i);
    DeviceInfo info;
    info.DeviceID = QString::fromUtf8(narrowField(r + PADIO_REC_DEVICE_ID, PADIO_REC_DEVICE_ID_SIZE));
    info.SN = QString::fromUtf8(narrowField(r + PADIO_REC_SN, PADIO_REC_SN_SIZE));
    info.Version = QString::fromUtf8(narrowField(r + PADIO_REC_VERSION, PADIO_REC_VERSION_SIZE));
    info.HardwareID = wideField(r + PADIO_REC_HARDWARE_ID, PADIO_REC_HARDWARE_ID_SIZE);
    info.DevicePath = wideField(r + PADIO_REC_DEVICE_PATH, PADIO_REC_DEVICE_PATH_SIZE);
    info.MASK = QString::fromUtf8(narrowField(r + PADIO_REC_MASK, PADIO_REC_MASK_SIZE));
    return info;
}

void apply(const QByteArray &table, DeviceMap *map, DeviceSightings *sightings)
{
    map->clear();
    const int count = recordCount(table);
    for (int i = 0; i < count; ++i) {
        const DeviceInfo info = record(table, i);
        map->insert(info.DeviceID, info);
        ++(*sightings)[info.DeviceID];
    }
}

} // namespace device_table
