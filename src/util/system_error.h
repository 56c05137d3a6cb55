// The system's own words for an error code, for messages, events and the
// trace.
#pragma once

#include <windows.h>

#include <cstddef>

constexpr size_t ERROR_TEXT_SIZE = 2048;

// Whether the text keeps the line end that the system's message ends with:
// a message box shows it, an event's insert or a trace line must not carry it.
enum class ErrorTextEnd { Kept, Dropped };

// The system's text for dwError, in the user's default language; "error N"
// where the system has no text for it.
void SystemErrorText(DWORD dwError, char (&szText)[ERROR_TEXT_SIZE], ErrorTextEnd end = ErrorTextEnd::Kept);
