// The machine-wide Run key: every program listed there starts when a user logs in. Writing it
// needs administrator rights; without them the key does not open, nothing changes, and the
// caller hears why.
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

bool setAutostart(bool enable, QString *error)
{
    const auto fail = [error](const char *what, LSTATUS status) {
        if (error)
            *error = QStringLiteral("cannot %1 %2: %3")
                         .arg(QLatin1String(what), autostartLocation(), qt_error_string(int(status)));
        return false;
    };
    const QString exe = QDir::toNativeSeparators(QCoreApplication::applicationDirPath() +
                                                 QStringLiteral("/VORKA 55 Gaming Software.exe"));
    const std::wstring data = (QLatin1Char('"') + exe + QStringLiteral("\" -autostart")).toStdWString();

    HKEY key = nullptr;
    const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &key);
    if (opened != ERROR_SUCCESS)
        return fail(enable ? "write" : "remove", opened);
    LSTATUS status;
    if (enable) {
        // The size counts the terminating null.
        status = RegSetValueExW(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(data.c_str()),
                                DWORD((data.size() + 1) * sizeof(wchar_t)));
    } else {
        status = RegDeleteValueW(key, kValueName);
        if (status == ERROR_FILE_NOT_FOUND)
            status = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS || fail(enable ? "write" : "remove", status);
}

} // namespace platform
