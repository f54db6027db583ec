#include "running_lock.h"

#include <windows.h>

#include <QDir>

namespace {

QString lastErrorText()
{
    wchar_t *text = nullptr;
    const DWORD code = GetLastError();
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = text ? QString::fromWCharArray(text).trimmed() : QString::number(code);
    LocalFree(text);
    return message;
}

} // namespace

bool RunningLock::hold(const QString &applicationDir, bool wait, QString *error)
{
    release();
    const QString file = QDir::toNativeSeparators(path(applicationDir));
    // No security attributes: the handle is not inherited by programs we start.
    HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(file.utf16()), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        if (error)
            *error = QStringLiteral("cannot open %1: %2").arg(file, lastErrorText());
        return false;
    }
    OVERLAPPED whole = {};
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    if (!LockFileEx(handle, flags, 0, MAXDWORD, MAXDWORD, &whole)) {
        const bool held = GetLastError() == ERROR_LOCK_VIOLATION;
        if (error)
            *error = held ? QStringLiteral("%1 is held by a running vexa").arg(file)
                          : QStringLiteral("cannot lock %1: %2").arg(file, lastErrorText());
        CloseHandle(handle);
        return false;
    }
    m_handle = reinterpret_cast<qintptr>(handle);
    return true;
}

void RunningLock::release()
{
    if (m_handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
}
