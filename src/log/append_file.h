// The file-append routine under the device log and the trace: one open,
// write and close per text.
#pragma once

#include <windows.h>

enum class AppendResult {
    Written,  // every byte is in the file
    Busy,     // another program holds the file (a sharing or lock violation)
    Failed,   // refused for any other reason, or written only in part
};

struct AppendOutcome {
    AppendResult result;
    DWORD dwError;    // the system's error behind Busy or Failed
    DWORD cbWritten;  // bytes that did reach the file, also on failure
};

// True for the errors of a file that another program holds for now.
bool IsHeldFileError(DWORD dwError);

// Appends pszText to the file, creating it with LogFileSecurity if needed.
// Append access alone puts every write at the end of the file, however large
// it has grown.
AppendOutcome TryAppend(const char* pszPath, const char* pszText);

// The same, for a caller that cannot do anything about a failure. Kept for
// the trace file's kind of text and for the tests: the device log and the
// trace call TryAppend, which tells them whether the file took the text.
void AppendToFile(const char* pszPath, const char* pszText);
