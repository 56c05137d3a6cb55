// Service entries made and cleaned up by tests, straight through the SCM.
#pragma once

#include <windows.h>

#include <string>

// The test_service tool's path in quotes, as it would be registered.
std::string QuotedToolPath();

// Creates a demand-start own-process service running test_service with the
// given arguments, replacing any entry of that name left from an earlier run.
bool CreateToolService(const char* pszName, const std::string& args);

// Stops the service if it runs (ending its process if it will not stop) and
// deletes it; nothing when it does not exist.
void RemoveService(const char* pszName);

// The current state, or 0 when the service cannot be queried.
DWORD ServiceState(const char* pszName, DWORD* pProcessId = nullptr);

// Waits until the service reports dwState; true when it did within dwMs.
bool WaitForServiceState(const char* pszName, DWORD dwState, DWORD dwMs);

bool ServiceExists(const char* pszName);
