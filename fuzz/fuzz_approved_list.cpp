// Loads arbitrary policy values as approved-device lists and matches their
// patterns against IDs: every entry kept lies inside the value, is terminated
// there, within 200 characters and free of control characters; a pattern
// always matches itself where it holds no wildcard, and "*" matches anything;
// the list's text keeps to its size; its index approves exactly what a
// match against every entry would.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/approved_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CApprovedList list;
    const std::vector<char> value(data, data + size);
    list.Load(value.data(), value.size());
    if (list.Count() > APPROVED_ENTRIES_MAX) std::abort();
    for (size_t i = 0; i < list.Count(); ++i) {
        const char* pszEntry = list.Entry(i);
        if (pszEntry < value.data() || pszEntry >= value.data() + value.size()) std::abort();
        const size_t cch = std::strlen(pszEntry);
        if (cch == 0 || cch > APPROVED_ENTRY_MAX || pszEntry + cch >= value.data() + value.size()) std::abort();
        for (size_t j = 0; j < cch; ++j)
            if (static_cast<unsigned char>(pszEntry[j]) < 0x20 || pszEntry[j] == 0x7F) std::abort();
        if (std::strpbrk(pszEntry, "*?") == nullptr && !MatchesPattern(pszEntry, pszEntry)) std::abort();
        if (!MatchesPattern("*", pszEntry)) std::abort();
    }
    // The first half as a pattern, the rest as an ID: it must simply end.
    const std::string text(value.begin(), value.end());
    const std::string pattern = text.substr(0, size / 2).c_str();
    const std::string id = text.substr(size / 2).c_str();
    MatchesPattern(pattern.c_str(), id.c_str());
    // The index finds what a match against every entry finds, for the
    // entries themselves and for that ID.
    for (size_t i = 0; i <= list.Count(); ++i) {
        const char* pszId = i < list.Count() ? list.Entry(i) : id.c_str();
        bool bAny = false;
        for (size_t j = 0; j < list.Count() && !bAny; ++j) bAny = MatchesPattern(list.Entry(j), pszId);
        if (list.Approves(pszId) != bAny) std::abort();
    }
    char szText[APPROVED_LIST_TEXT_SIZE];
    list.Describe(szText);
    char szProblems[APPROVED_PROBLEM_TEXT_SIZE];
    list.DescribeProblems(szProblems);
    if (std::strlen(szText) > APPROVED_LIST_TEXT_MAX) std::abort();
    return 0;
}
