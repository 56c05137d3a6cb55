#include "support/test_files.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <fstream>
#include <sstream>

std::string ReadWholeFile(const char* pszPath)
{
    std::ifstream in(pszPath, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> ReadLines(const char* pszPath)
{
    const std::string all = ReadWholeFile(pszPath);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < all.size()) {
        const size_t end = all.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(all.substr(start));
            break;
        }
        lines.push_back(all.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

void DeleteIfPresent(const char* pszPath)
{
    DeleteFileA(pszPath);
}

bool FileExists(const char* pszPath)
{
    return GetFileAttributesA(pszPath) != INVALID_FILE_ATTRIBUTES;
}

std::string FileDacl(const char* pszPath)
{
    PSECURITY_DESCRIPTOR pSd = nullptr;
    if (GetNamedSecurityInfoA(pszPath, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                              &pSd) != ERROR_SUCCESS)
        return "";
    char* pszSddl = nullptr;
    std::string sddl;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorA(pSd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &pszSddl,
                                                             nullptr)) {
        sddl = pszSddl;
        LocalFree(pszSddl);
    }
    LocalFree(pSd);
    return sddl;
}

namespace {

// Runs a Unix command on the file's Unix path and waits for it.
bool RunOnUnixPath(const char* pszCommand, const char* pszOption, const char* pszTarget, const char* pszPath)
{
    using UnixFileName = char*(CDECL*)(LPCWSTR);
    using UnixSpawn = LONG(CDECL*)(char* const*, int);
    const auto pfnUnixFileName =
        reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    const auto pfnSpawn =
        reinterpret_cast<UnixSpawn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "__wine_unix_spawnvp")));
    if (pfnUnixFileName == nullptr || pfnSpawn == nullptr) return false;
    wchar_t wszPath[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, pszPath, -1, wszPath, MAX_PATH);
    char* pszUnixPath = pfnUnixFileName(wszPath);
    if (pszUnixPath == nullptr) return false;
    std::vector<char*> argv = {const_cast<char*>(pszCommand), const_cast<char*>(pszOption)};
    if (pszTarget != nullptr) argv.push_back(const_cast<char*>(pszTarget));
    argv.push_back(pszUnixPath);
    argv.push_back(nullptr);
    const LONG status = pfnSpawn(argv.data(), 1);
    HeapFree(GetProcessHeap(), 0, pszUnixPath);
    return status == 0;
}

}  // namespace

bool LinkToDiskFull(const char* pszPath)
{
    return RunOnUnixPath("/bin/ln", "-sf", "/dev/full", pszPath);
}

bool RemoveLink(const char* pszPath)
{
    return RunOnUnixPath("/bin/rm", "-f", nullptr, pszPath);
}
