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
