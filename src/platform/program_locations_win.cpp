#include "program_locations.h"

#include <QDir>

#include <vector>

#include <windows.h>

namespace platform {

QString executablePath()
{
    // GetModuleFileNameW truncates silently to the buffer; a result that fills it may be cut,
    // so grow up to the longest path the system allows.
    std::vector<wchar_t> buffer(MAX_PATH);
    while (buffer.size() <= 32768) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (length == 0)
            return QString();
        if (length < buffer.size())
            return QDir::fromNativeSeparators(QString::fromWCharArray(buffer.data(), int(length)));
        buffer.resize(buffer.size() * 2);
    }
    return QString();
}

QString instanceChannelName(const QString &bareName)
{
    // Pipe names live in the object namespace, not in a folder of files; the bare name is
    // what every instance asks for.
    return bareName;
}

} // namespace platform
