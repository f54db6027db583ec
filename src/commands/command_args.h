// A page command's arguments and the rules every command reads them by.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class CommandArgs {
public:
    CommandArgs() = default;
    explicit CommandArgs(QVariantMap map) : m_map(std::move(map)) {}

    // Parses a command text: a JSON object. False for anything else (not JSON, an array, ...).
    static bool parse(const QString &text, CommandArgs *out);

    const QVariantMap &map() const { return m_map; }
    bool has(const QString &key) const { return m_map.contains(key); }
    // Every key present, checked in the order given. A command that lacks one ends unanswered,
    // as the page expects; the runtime log says which command lacked which member, so the
    // silence can be explained.
    bool require(std::initializer_list<const char *> keys) const;
    QString missing(std::initializer_list<const char *> keys) const;

    // Numbers round to the nearest integer, halves away from zero; a text holding a decimal
    // integer gives it; true gives 1; anything else 0.
    int toInt(const QString &key) const;
    // A string as it is; a whole number as its decimal digits; a boolean as "true"/"false".
    QString toText(const QString &key) const;
    // The text read the way strtol reads base 16, clamped to the 32-bit range: "1f00", "0x1F00"
    // and the number 1f00... mean the same; the JSON number 4096 means 0x4096.
    long toHex(const QString &key) const;
    // The text split at every ","; item i read as hexadecimal, low 8 bits. Exactly size bytes:
    // items beyond size are ignored, missing items give 0.
    QByteArray toByteList(const QString &key, int size) const;

    static int integerOf(const QVariant &value);
    static QString textOf(const QVariant &value);
    static long hexOf(const QString &text);
    static QByteArray byteListOf(const QString &text, int size);
    // "0x01,0xff,0x2a"; no bytes give "".
    static QString byteListReply(const QByteArray &bytes);
    static QString byteListReply(const unsigned char *bytes, int size);

private:
    QVariantMap m_map;
};
