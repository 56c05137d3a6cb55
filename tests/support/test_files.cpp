#include "support/test_files.h"

#include <windows.h>

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
