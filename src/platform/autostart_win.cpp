// The machine-wide Run key: every program listed there starts when a user logs in. Writing it
// needs administrator rights; without them the key does not open and nothing changes.
#include "autostart.h"

#include <QCoreApplication>
#include <QDir>

#include <windows.h>

namespace platform {

namespace {
const wchar_t kRunKey[] = L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kValueName[] = L"marlith";
} // namespace

QString autostartLocation()
{
    return QStringLiteral("HKEY_LOCAL_MACHINE\\") + QString::fromWCharArray(kRunKey) + QLatin1Char('\\') +
           QString::fromWCharArray(kValueName);
}

void setAutostart(bool enable)
{
    const QString exe = QDir::toNativeSeparators(QCoreApplication::applicationDirPath() +
                                                 QStringLiteral("/VORKA 55 Gaming Software.exe"));
    const std::wstring data = (QLatin1Char('"') + exe + QStringLiteral("\" -autostart")).toStdWString();

    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    if (enable) {
        // The size counts the terminating null.
        RegSetValueExW(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(data.c_str()),
                       DWORD((data.size() + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteValueW(key, kValueName);
    }
    RegCloseKey(key);
}

} // namespace platform
