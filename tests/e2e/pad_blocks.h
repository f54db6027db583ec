// Profiles and the pad's profile block for the tests and benchmarks of modes that change the pad.
#pragma once

#include "vexa_driver.h"

#include <QString>
#include <QStringList>

namespace pad_blocks {

// A profile file with the values the block's first bytes show (view/PROFILES.md) and no keys.
inline QByteArray profileXml(const char *name, int speed, const char *color, const char *effect)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<profile name=\"%1\" version=\"2\">"
                          "<mouse speed=\"%2\" scrollLines=\"3\" doubleClick=\"0\" />"
                          "<lighting color=\"%3\" brightness=\"80\" effect=\"%4\" />"
                          "<stick deadzone=\"8\" curve=\"linear\" invertY=\"false\" /><keys /><macros /></profile>\n")
        .arg(QLatin1String(name))
        .arg(speed)
        .arg(QLatin1String(color), QLatin1String(effect))
        .toUtf8();
}

// The pad's first bytes at 0x0100 as hex digits, from padctl's dump ("0100  56 58 …  |VX…|").
inline QString blockStart(const QString &padctl, const QString &id, int bytes)
{
    QString out;
    const QString dump = VexaDriver::runTool(padctl, {QStringLiteral("mem"), id, QStringLiteral("100"), QString::number(bytes)});
    for (const QString &row : dump.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        out += row.section(QLatin1Char('|'), 0, 0).section(QLatin1Char(' '), 1).remove(QLatin1Char(' '));
    return out.toLower();
}

} // namespace pad_blocks
