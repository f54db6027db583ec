#include "command_args.h"

#include "runtime_log.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cctype>
#include <climits>
#include <cmath>

bool CommandArgs::parse(const QString &text, CommandArgs *out)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    *out = CommandArgs(doc.object().toVariantMap());
    return true;
}

bool CommandArgs::require(std::initializer_list<const char *> keys) const
{
    const QString absent = missing(keys);
    if (absent.isEmpty())
        return true;
    CEF_LOG_WARNING(QStringLiteral("%1: no \"%2\", left unanswered").arg(toText(QStringLiteral("funcname")), absent));
    return false;
}

QString CommandArgs::missing(std::initializer_list<const char *> keys) const
{
    for (const char *key : keys)
        if (!m_map.contains(QLatin1String(key)))
            return QLatin1String(key);
    return QString();
}

int CommandArgs::integerOf(const QVariant &value)
{
    switch (value.type()) {
    case QVariant::Double:
    case QVariant::Int:
    case QVariant::LongLong:
    case QVariant::UInt:
    case QVariant::ULongLong: {
        const double rounded = std::round(value.toDouble()); // halves away from zero
        if (std::isnan(rounded))
            return 0;
        if (rounded >= double(INT_MAX))
            return INT_MAX;
        if (rounded <= double(INT_MIN))
            return INT_MIN;
        return int(rounded);
    }
    case QVariant::String: {
        bool ok = false;
        const int n = value.toString().toInt(&ok, 10);
        return ok ? n : 0;
    }
    case QVariant::Bool:
        return value.toBool() ? 1 : 0;
    default:
        return 0;
    }
}

QString CommandArgs::textOf(const QVariant &value)
{
    switch (value.type()) {
    case QVariant::String:
        return value.toString();
    case QVariant::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QVariant::Double:
    case QVariant::Int:
    case QVariant::LongLong:
    case QVariant::UInt:
    case QVariant::ULongLong: {
        const double d = value.toDouble();
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 1e18)
            return QString::number(qint64(d));
        return QString::number(d, 'g', 17);
    }
    default:
        return QString();
    }
}

long CommandArgs::hexOf(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    const char *p = bytes.constData();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && std::isxdigit(static_cast<unsigned char>(p[2])))
        p += 2;
    // Accumulate in 64 bits and stop growing once past the 32-bit range; the sign is applied
    // before clamping, as strtol does with a 32-bit long.
    long long magnitude = 0;
    bool any = false;
    for (; std::isxdigit(static_cast<unsigned char>(*p)); ++p) {
        any = true;
        const int digit = std::isdigit(static_cast<unsigned char>(*p)) ? *p - '0' : (std::tolower(*p) - 'a' + 10);
        if (magnitude <= 0xFFFFFFFFLL)
            magnitude = magnitude * 16 + digit;
    }
    if (!any)
        return 0;
    const long long value = negative ? -magnitude : magnitude;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return long(value);
}

QByteArray CommandArgs::byteListOf(const QString &text, int size)
{
    QByteArray bytes(qMax(size, 0), '\0');
    if (size <= 0)
        return bytes;
    const QStringList items = text.split(QLatin1Char(','), Qt::KeepEmptyParts);
    const int n = qMin(size, items.size());
    for (int i = 0; i < n; ++i)
        bytes[i] = char(hexOf(items.at(i)) & 0xff);
    return bytes;
}

int CommandArgs::toInt(const QString &key) const
{
    return integerOf(m_map.value(key));
}

QString CommandArgs::toText(const QString &key) const
{
    return textOf(m_map.value(key));
}

long CommandArgs::toHex(const QString &key) const
{
    return hexOf(toText(key));
}

QByteArray CommandArgs::toByteList(const QString &key, int size) const
{
    return byteListOf(toText(key), size);
}

QString CommandArgs::byteListReply(const unsigned char *bytes, int size)
{
    static const char digits[] = "0123456789abcdef";
    QString reply;
    reply.reserve(size * 5);
    for (int i = 0; i < size; ++i) {
        if (i)
            reply += QLatin1Char(',');
        reply += QLatin1String("0x");
        reply += QLatin1Char(digits[bytes[i] >> 4]);
        reply += QLatin1Char(digits[bytes[i] & 15]);
    }
    return reply;
}

QString CommandArgs::byteListReply(const QByteArray &bytes)
{
    return byteListReply(reinterpret_cast<const unsigned char *>(bytes.constData()), bytes.size());
}
