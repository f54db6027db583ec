#include "device_commands.h"

#include "app_settings.h"
#include "command_context.h"
#include "device_catalogue.h"
#include "device_table.h"
#include "devices_handler.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

using Buffer = devices_handler::Buffer;

QString key(const char *name)
{
    return QLatin1String(name);
}

// The bytes a read command answers with; a negative size answers nothing.
QString replyBytes(const Buffer &buffer, int size)
{
    return CommandArgs::byteListReply(buffer.data(), devices_handler::clampSize(size));
}

// The first size items of PARAMDATA; items the list lacks stay 0.
void fillFromByteList(const CommandArgs &args, int size, Buffer *buffer)
{
    const QByteArray bytes = args.toByteList(key("PARAMDATA"), devices_handler::clampSize(size));
    std::copy(bytes.cbegin(), bytes.cend(), buffer->begin());
}

bool allZero(const Buffer &buffer)
{
    return std::all_of(buffer.cbegin(), buffer.cend(), [](uint8_t b) { return b == 0; });
}

// The pad and the stretch of its memory that the memory commands name alike; the bytes to
// write, when the command carries them, stay in PARAMDATA. False when a member is missing: the
// command then stays unanswered.
struct Stretch {
    QString hardwareId;
    int address = 0;
    int size = 0;
};

bool readStretch(const CommandArgs &args, bool withData, Stretch *out)
{
    const bool complete = withData ? args.require({"HardwareID", "DevicePath", "PARAMSIZE", "PARAMADDRESS", "PARAMDATA"})
                                   : args.require({"HardwareID", "DevicePath", "PARAMSIZE", "PARAMADDRESS"});
    if (!complete)
        return false;
    out->hardwareId = args.toText(key("HardwareID"));
    out->address = int(args.toHex(key("PARAMADDRESS")));
    out->size = args.toInt(key("PARAMSIZE"));
    return true;
}



void cmdGetDevicesList(Pads &pads, const CommandArgs &, const QueryCallbackPtr &callback)
{
    const QByteArray table = pads.library.enumerateDevices();
    const int count = device_table::recordCount(table);

    QJsonArray list;
    DeviceCatalogue catalogue;
    for (int i = 0; i < count; ++i) {
        // Only a pad to describe needs the catalogue; a broken settings text fails the listing.
        if (i == 0 && !catalogue.load(pads.context.settings().confText())) {
            replyFailure(callback, 0, QStringLiteral("queryProfile load xml file failed!"));
            return;
        }
        const DeviceInfo info = device_table::record(table, i);
        if (info.DeviceID.isEmpty())
            continue;
        const ProductInfo product = catalogue.product(device_table::deviceIdBytes(table, i));
        // QJsonObject keeps its keys sorted, which is the order the page expects.
        list.append(QJsonObject{
            {key("DeviceID"), info.DeviceID},
            {key("DevicePath"), info.DevicePath},
            {key("HardwareID"), info.HardwareID},
            {key("MASK"), info.MASK},
            {key("SN"), info.SN},
            {key("Version"), info.Version},
            {key("description"), product.description},
            {key("device"), product.device},
            {key("productCN"), product.productCN},
            {key("productName"), product.productName},
            {key("productType"), product.productType},
        });
    }
    replySuccess(callback, QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)));
}

void cmdReadDevicesProp(Pads &pads, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"HardwareID", "DevicePath", "PARAMSIZE", "PARAMID"}))
        return;
    const int propertyId = args.toInt(key("PARAMID"));
    const int size = args.toInt(key("PARAMSIZE"));
    const QString hardwareId = args.toText(key("HardwareID"));
    Buffer buffer{};
    if (pads.library.readProp(hardwareId, buffer, size, propertyId))
        replySuccess(callback, replyBytes(buffer, size));
    else
        replyFailure(callback, 0, QStringLiteral("readDevicesProp failed!"));
}

void cmdWriteDevicesProp(Pads &pads, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"HardwareID", "DevicePath", "PARAMSIZE", "PARAMID", "PARAMDATA"}))
        return;
    Buffer buffer{};
    const int size = args.toInt(key("PARAMSIZE"));
    fillFromByteList(args, size, &buffer);
    const int propertyId = args.toInt(key("PARAMID"));
    const QString hardwareId = args.toText(key("HardwareID"));
    if (pads.library.writeProp(hardwareId, buffer, size, propertyId)) {
        replySuccess(callback, QStringLiteral("writeDevicesProp success!"));
        pads.library.browserMessage(QStringLiteral("writeDevicesProp,success!"));
    } else {
        replyFailure(callback, 0, QStringLiteral("writeDevicesProp failed!"));
        pads.library.browserMessage(QStringLiteral("writeDevicesProp,failed!!"));
    }
}

void cmdIsPropEmpty(Pads &pads, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    Stretch at;
    if (!readStretch(args, false, &at))
        return;
    Buffer buffer{};
    if (!pads.library.read(at.hardwareId, buffer, at.size, at.address))
        replyFailure(callback, 0, QStringLiteral("isPropEmpty failed!"));
    else
        replySuccess(callback, allZero(buffer) ? QStringLiteral("true") : QStringLiteral("false"));
}

void cmdReadByAddr(Pads &pads, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    Stretch at;
    if (!readStretch(args, false, &at))
        return;
    Buffer buffer{};
    if (pads.library.read(at.hardwareId, buffer, at.size, at.address))
        replySuccess(callback, replyBytes(buffer, at.size));
    else
        replyFailure(callback, 0, QStringLiteral("readByAddr failed!"));
}

void cmdWriteByAddr(Pads &pads, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    Stretch at;
    if (!readStretch(args, true, &at))
        return;
    Buffer buffer{};
    fillFromByteList(args, at.size, &buffer);
    if (pads.library.write(at.hardwareId, buffer, at.size, at.address))
        replySuccess(callback, QStringLiteral("writeByAddr success!"));
    else
        replyFailure(callback, 0, QStringLiteral("writeByAddr failed!"));
}

void cmdNotifyDevice(Pads &pads, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    if (!args.require({"HardwareID", "NotifyType", "NotifyData"}))
        return;
    const int data = args.toInt(key("NotifyData"));
    const int type = args.toInt(key("NotifyType"));
    const QString hardwareId = args.toText(key("HardwareID"));
    if (pads.library.notify(hardwareId, (type & 0xFF) | ((data & 0xFF) << 8)))
        replySuccess(callback, QStringLiteral("notifyDevice success!"));
    else
        replyFailure(callback, 0, QStringLiteral("notifyDevice failed!"));
}

void cmdCleanMacroByAddr(Pads &pads, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    Stretch at;
    if (!readStretch(args, false, &at))
        return;
    const Buffer zeros{};
    if (pads.library.write(at.hardwareId, zeros, at.size, at.address))
        replySuccess(callback, QStringLiteral("cleanMacroByAddr success!"));
    else
        replyFailure(callback, 0, QStringLiteral("cleanMacroByAddr failed!"));
}

void cmdWriteMacroByAddr(Pads &pads, const CommandArgs &args, const QueryCallbackPtr &callback)
{
    Stretch at;
    if (!readStretch(args, true, &at))
        return;
    // The write could not take it all; the stretch is not even looked at.
    if (at.size > devices_handler::kBufferSize) {
        replyFailure(callback, 0, QStringLiteral("writeMacroByAddr failed!"));
        return;
    }

    // A stretch the pad did not let us read may hold a macro: it is never taken for blank.
    Buffer buffer{};
    if (!pads.library.read(at.hardwareId, buffer, at.size, at.address)) {
        replyFailure(callback, 0, QStringLiteral("writeMacroByAddr failed!"));
        return;
    }
    if (!allZero(buffer)) {
        // Occupied: the page learns where, and must clean the stretch first.
        replySuccess(callback, args.toText(key("PARAMADDRESS")));
        return;
    }
    buffer.fill(0);
    if (!pads.library.read(at.hardwareId, buffer, at.size, at.address)) {
        replyFailure(callback, 0, QStringLiteral("writeMacroByAddr failed!"));
        return;
    }
    fillFromByteList(args, at.size, &buffer);
    if (pads.library.write(at.hardwareId, buffer, at.size, at.address))
        replySuccess(callback, QStringLiteral("true"));
    else
        replyFailure(callback, 0, QStringLiteral("writeMacroByAddr failed!"));
}

} // namespace

void registerDeviceCommands(CommandRegistry &registry, Pads &pads)
{
    registry.addAll(pads, {
                              {"getDevicesList", cmdGetDevicesList},     {"readDevicesProp", cmdReadDevicesProp},
                              {"writeDevicesProp", cmdWriteDevicesProp}, {"readByAddr", cmdReadByAddr},
                              {"writeByAddr", cmdWriteByAddr},           {"notifyDevice", cmdNotifyDevice},
                              {"isPropEmpty", cmdIsPropEmpty},           {"cleanMacroByAddr", cmdCleanMacroByAddr},
                              {"writeMacroByAddr", cmdWriteMacroByAddr},
                          });
}
