// Small file helpers for tests that read what the program wrote.
#pragma once

#include <string>
#include <vector>

// The whole file, or an empty text when it does not exist.
std::string ReadWholeFile(const char* pszPath);
// The file split at "\r\n"; a last line without its line end is kept as is.
std::vector<std::string> ReadLines(const char* pszPath);
void DeleteIfPresent(const char* pszPath);
bool FileExists(const char* pszPath);
// The file's DACL as the system reports it, in SDDL; empty when unreadable.
std::string FileDacl(const char* pszPath);

// Makes pszPath a Unix symbolic link to /dev/full, where every write fails
// with ERROR_DISK_FULL, or removes such a link again. Wine-only: its own
// CreateSymbolicLinkA makes a plain file, so the link is made by ln and rm
// through Wine's Unix process spawner.
bool LinkToDiskFull(const char* pszPath);
bool RemoveLink(const char* pszPath);
