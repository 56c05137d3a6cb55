// The list of approved USB devices that Group Policy sets: patterns that a
// device's instance ID is matched against. Approval is a tag and a warning,
// never a refusal: blocking stays with Windows' own device installation
// policies. No platform calls.
#pragma once

#include <cstddef>

constexpr size_t APPROVED_ENTRIES_MAX = 1000;
constexpr size_t APPROVED_ENTRY_MAX = 200;  // characters of one pattern
// The most a value may hold to be read at all: a full list of the longest
// patterns, with room for entries that are refused.
constexpr size_t APPROVED_VALUE_BYTES = 256 * 1024;
// The list as event 114 shows it, cut with "..." beyond 2,000 characters.
constexpr size_t APPROVED_LIST_TEXT_MAX = 2000;
constexpr size_t APPROVED_LIST_TEXT_SIZE = APPROVED_LIST_TEXT_MAX + 1;
constexpr size_t APPROVED_PROBLEM_TEXT_SIZE = 512;

// True when pszText matches pszPattern: ASCII letters in either case, '*'
// for any run of characters (none included), '?' for one character.
bool MatchesPattern(const char* pszPattern, const char* pszText);

// What a list read from the policy holds, and what was wrong with it. The
// entries point into the bytes it was loaded from, which must stay as they
// are while the list is used.
class CApprovedList {
public:
    CApprovedList() = default;
    CApprovedList(const CApprovedList&) = delete;
    CApprovedList& operator=(const CApprovedList&) = delete;

    // Takes the data of a REG_MULTI_SZ value (cbData bytes; the last strings
    // need not be terminated). Keeps the first 1,000 valid entries; an entry
    // over 200 characters or holding a control character is left out.
    void Load(const char* pData, size_t cbData);
    // An empty list: a value of another type, or one that cannot be read.
    void Clear();

    size_t Count() const { return m_cEntries; }
    const char* Entry(size_t i) const { return m_apszEntries[i]; }
    // True when an entry matches the instance ID. Only the entries whose
    // text before their first wildcard begins the ID, and whose text after
    // their last ends it, are matched: a few binary searches find them among
    // a thousand.
    bool Approves(const char* pszInstanceId) const;
    // The entries separated by "; ", cut at 2,000 characters with "...".
    void Describe(char (&szText)[APPROVED_LIST_TEXT_SIZE]) const;
    // What was left out of the list when it was loaded, in words; empty when
    // nothing was.
    void DescribeProblems(char (&szText)[APPROVED_PROBLEM_TEXT_SIZE]) const;

private:
    // An entry by the text before its first wildcard, its literal prefix,
    // and the text after its last, its literal suffix: an ID that does not
    // end so is passed over without a match.
    struct Indexed {
        const char* pszEntry;
        unsigned short cchPrefix;
        unsigned short cchSuffix;
    };

    // In the policy's order, as event 114 shows them.
    const char* m_apszEntries[APPROVED_ENTRIES_MAX] = {};
    // Sorted by literal prefix, case ignored.
    Indexed m_aIndex[APPROVED_ENTRIES_MAX] = {};
    // Which lengths of literal prefix the entries have.
    bool m_abPrefixLength[APPROVED_ENTRY_MAX + 1] = {};
    size_t m_cEntries = 0;
    size_t m_cBeyondMax = 0;
    size_t m_cTooLong = 0;
    size_t m_cControl = 0;
};
