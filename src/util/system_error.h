// The system's own words for an error code, for messages and events.
#pragma once

#include <windows.h>

#include <cstddef>

constexpr size_t ERROR_TEXT_SIZE = 2048;

// The system's text for dwError, in the user's default language, with the
// line end it comes with; "error N" and a line end where the system has no
// text for it.
void SystemErrorText(DWORD dwError, char (&szText)[ERROR_TEXT_SIZE]);
