#include "device_commands.h"

#include "app_settings.h"
#include "client_handler.h"
#include "device_catalogue.h"
#include "device_table.h"
#include "devices_handler.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

using Buffer = devices_handler::Buffer;

// The application's handler; without one every library function counts as absent.
class Library {
public:
    Library() : m_handler(devices_handler::current()) {}
    QByteArray enumerateDevices()
    {
        return m_handler ? m_handler->enumerateDevices() : QByteArray(device_table::kTableSize, '\0');
    }
    void readProp(const QString &id, Buffer &buffer, int size, int property)
    {
        if (m_handler)
            m_handler->readProp(id, buffer, size, property);
    }
    bool writeProp(const QString &id, const Buffer &buffer, int size, int property)
    {
        return m_handler && m_handler->writeProp(id, buffer, size, property);
    }
    void read(const QString &id, Buffer &buffer, int size, int at)
    {
        if (m_handler)
            m_handler->read(id, buffer, size, at);
    }
    bool write(const QString &id, const Buffer &buffer, int size, int at)
    {
        return m_handler && m_handler->write(id, buffer, size, at);
    }
    bool notify(const QString &id, int value) { return m_handler && m_handler->notify(id, value); }
    void browserMessage(const QString &text)
    {
        if (m_handler)
            m_handler->browserMessage(text);
        else if (CefRefPtr<ClientHandler> client = ClientHandler::current())
            client->onBrowserMsg(text);
    }

private:
    devices_handler *m_handler;
};

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

int address(const CommandArgs &args)
{
    return int(args.toHex(key("PARAMADDRESS")));
}

} // namespace

void cmdGetDevicesList(vexa &, const CommandArgs &, const vexa::Callback &callback)
{
    const QByteArray table = Library().enumerateDevices();
    const int count = device_table::recordCount(table);

    QJsonArray list;
    DeviceCatalogue catalogue;
    for (int i = 0; i < count; ++i) {
        // Only a pad to describe needs the catalogue; a broken settings text fails the listing.
        AppSettings *settings = AppSettings::current();
        if (i == 0 && !catalogue.load(settings ? settings->confText() : QString())) {
            vexa::replyFailure(callback, 0, QStringLiteral("queryProfile load xml file failed!"));
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
    vexa::replySuccess(callback, QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)));
}

void cmdReadDevicesProp(vexa &, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"HardwareID", "DevicePath", "PARAMSIZE", "PARAMID"}))
        return;
    const int propertyId = args.toInt(key("PARAMID"));
    const int size = args.toInt(key("PARAMSIZE"));
    const QString hardwareId = args.toText(key("HardwareID"));
    Buffer buffer{};
    Library().readProp(hardwareId, buffer, size, propertyId);
    vexa::replySuccess(callback, replyBytes(buffer, size));
}

void cmdWriteDevicesProp(vexa &, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"HardwareID", "DevicePath", "PARAMSIZE", "PARAMID", "PARAMDATA"}))
        return;
    Buffer buffer{};
    const int size = args.toInt(key("PARAMSIZE"));
    fillFromByteList(args, size, &buffer);
    const int propertyId = args.toInt(key("PARAMID"));
    const QString hardwareId = args.toText(key("HardwareID"));
    Library library;
    if (library.writeProp(hardwareId, buffer, size, propertyId)) {
        vexa::replySuccess(callback, QStringLiteral("writeDevicesProp success!"));
        library.browserMessage(QStringLiteral("writeDevicesProp,success!"));
    } else {
        vexa::replyFailure(callback, 0, QStringLiteral("writeDevicesProp failed!"));
        library.browserMessage(QStringLiteral("writeDevicesProp,failed!!"));
    }
}

void cmdIsPropEmpty(vexa &, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"HardwareID", "DevicePath", "PARAMSIZE", "PARAMADDRESS"}))
        return;
    const int at = address(args);
    const int size = args.toInt(key("PARAMSIZE"));
    const QString hardwareId = args.toText(key("HardwareID"));
    Buffer buffer{};
    Library().read(hardwareId, buffer, size, at);
    vexa::replySuccess(callback, allZero(buffer) ? QStringLiteral("true") : QStringLiteral("false"));
}

void cmdReadByAddr(vexa &, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"HardwareID", "DevicePath", "PARAMSIZE", "PARAMADDRESS"}))
        return;
    const int at = address(args);
    const int size = args.toInt(key("PARAMSIZE"));
    const QString hardwareId = args.toText(key("HardwareID"));
    Buffer buffer{};
    Library().read(hardwareId, buffer, size, at);
    vexa::replySuccess(callback, replyBytes(buffer, size));
}

void cmdWriteByAddr(vexa &, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"HardwareID", "DevicePath", "PARAMSIZE", "PARAMADDRESS", "PARAMDATA"}))
        return;
    Buffer buffer{};
    const int size = args.toInt(key("PARAMSIZE"));
    fillFromByteList(args, size, &buffer);
    const int at = address(args);
    const QString hardwareId = args.toText(key("HardwareID"));
    if (Library().write(hardwareId, buffer, size, at))
        vexa::replySuccess(callback, QStringLiteral("writeByAddr success!"));
    else
        vexa::replyFailure(callback, 0, QStringLiteral("writeByAddr failed!"));
}

void cmdNotifyDevice(vexa &, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"HardwareID", "NotifyType", "NotifyData"}))
        return;
    const int data = args.toInt(key("NotifyData"));
    const int type = args.toInt(key("NotifyType"));
    const QString hardwareId = args.toText(key("HardwareID"));
    if (Library().notify(hardwareId, (type & 0xFF) | ((data & 0xFF) << 8)))
        vexa::replySuccess(callback, QStringLiteral("notifyDevice success!"));
    else
        vexa::replyFailure(callback, 0, QStringLiteral("notifyDevice failed!"));
}

void cmdCleanMacroByAddr(vexa &, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"HardwareID", "DevicePath", "PARAMSIZE", "PARAMADDRESS"}))
        return;
    const Buffer zeros{};
    const int at = address(args);
    const int size = args.toInt(key("PARAMSIZE"));
    const QString hardwareId = args.toText(key("HardwareID"));
    if (Library().write(hardwareId, zeros, size, at))
        vexa::replySuccess(callback, QStringLiteral("cleanMacroByAddr success!"));
    else
        vexa::replyFailure(callback, 0, QStringLiteral("cleanMacroByAddr failed!"));
}

void cmdWriteMacroByAddr(vexa &, const CommandArgs &args, const vexa::Callback &callback)
{
    if (!args.hasAll({"HardwareID", "DevicePath", "PARAMSIZE", "PARAMADDRESS", "PARAMDATA"}))
        return;
    const int at = address(args);
    const int size = args.toInt(key("PARAMSIZE"));
    const QString hardwareId = args.toText(key("HardwareID"));
    Library library;

    Buffer buffer{};
    library.read(hardwareId, buffer, size, at);
    if (!allZero(buffer)) {
        // Occupied: the page learns where, and must clean the stretch first.
        vexa::replySuccess(callback, args.toText(key("PARAMADDRESS")));
        return;
    }
    buffer.fill(0);
    library.read(hardwareId, buffer, size, at);
    fillFromByteList(args, size, &buffer);
    if (library.write(hardwareId, buffer, size, at))
        vexa::replySuccess(callback, QStringLiteral("true"));
    else
        vexa::replyFailure(callback, 0, QStringLiteral("writeMacroByAddr failed!"));
}
