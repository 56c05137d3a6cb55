#include "log/append_file.h"

#include "log/log_file_security.h"
#include "util/scoped_handle.h"

bool IsHeldFileError(DWORD dwError)
{
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION;
}

AppendOutcome TryAppend(const char* pszPath, const char* pszText)
{
    ScopedFile file(
        CreateFileA(pszPath, FILE_APPEND_DATA, FILE_SHARE_READ, LogFileSecurity(), OPEN_ALWAYS, 0, nullptr));
    if (!file) {
        const DWORD dwError = GetLastError();
        return {IsHeldFileError(dwError) ? AppendResult::Busy : AppendResult::Failed, dwError, 0};
    }
    const DWORD cbText = static_cast<DWORD>(lstrlenA(pszText));
    DWORD cbWritten = 0;
    if (!WriteFile(file.get(), pszText, cbText, &cbWritten, nullptr)) {
        // A reader's byte-range lock refuses the write, not the open.
        const DWORD dwError = GetLastError();
        return {IsHeldFileError(dwError) ? AppendResult::Busy : AppendResult::Failed, dwError, cbWritten};
    }
    // A write that stops short without an error has run out of room.
    if (cbWritten < cbText) return {AppendResult::Failed, ERROR_DISK_FULL, cbWritten};
    return {AppendResult::Written, ERROR_SUCCESS, cbWritten};
}

void AppendToFile(const char* pszPath, const char* pszText)
{
    TryAppend(pszPath, pszText);
}
