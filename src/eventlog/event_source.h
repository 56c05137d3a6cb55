// The event source's registration for the Application log, made and removed
// with the service.
#pragma once

// Registers the event source, with pszMessageFile (the installed executable)
// holding its messages. Failures are traced.
void RegisterEventLogSource(const char* pszMessageFile);
// Removes that registration; a missing one is no failure.
void RemoveEventLogSource();
