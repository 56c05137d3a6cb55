#include "device/approved_list.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "util/text.h"

namespace {

// Compares the first cchA characters of a with the first cchB of b, case
// ignored: negative, zero or positive, as strcmp does.
int ComparePrefixes(const char* a, size_t cchA, const char* b, size_t cchB)
{
    const size_t cch = cchA < cchB ? cchA : cchB;
    for (size_t i = 0; i < cch; ++i) {
        const unsigned char ca = static_cast<unsigned char>(LowerAscii(a[i]));
        const unsigned char cb = static_cast<unsigned char>(LowerAscii(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return cchA == cchB ? 0 : (cchA < cchB ? -1 : 1);
}

}  // namespace

bool MatchesPattern(const char* pszPattern, const char* pszText)
{
    // Greedy with one step back: the last '*' seen takes one more character
    // whenever what follows it fails, so the time stays linear in practice.
    const char* pStar = nullptr;
    const char* pStarText = nullptr;
    while (*pszText != '\0') {
        if (*pszPattern == '*') {
            pStar = pszPattern++;
            pStarText = pszText;
        } else if (*pszPattern != '\0' && (*pszPattern == '?' || LowerAscii(*pszPattern) == LowerAscii(*pszText))) {
            ++pszPattern;
            ++pszText;
        } else if (pStar != nullptr) {
            pszPattern = pStar + 1;
            pszText = ++pStarText;
        } else {
            return false;
        }
    }
    while (*pszPattern == '*') ++pszPattern;
    return *pszPattern == '\0';
}

void CApprovedList::Clear()
{
    m_cEntries = 0;
    std::fill(std::begin(m_abPrefixLength), std::end(m_abPrefixLength), false);
    m_cBeyondMax = 0;
    m_cTooLong = 0;
    m_cControl = 0;
}

void CApprovedList::Load(const char* pData, size_t cbData)
{
    Clear();
    for (size_t i = 0; i < cbData;) {
        const char* pszEntry = pData + i;
        const void* pEnd = std::memchr(pszEntry, '\0', cbData - i);
        // An entry whose terminator the value lacks is not read.
        if (pEnd == nullptr) break;
        const size_t cch = static_cast<size_t>(static_cast<const char*>(pEnd) - pszEntry);
        // An empty string ends a REG_MULTI_SZ.
        if (cch == 0) break;
        i += cch + 1;
        bool bControl = false;
        for (size_t j = 0; j < cch; ++j) {
            const unsigned char c = static_cast<unsigned char>(pszEntry[j]);
            bControl = bControl || c < 0x20 || c == 0x7F;
        }
        if (bControl) {
            ++m_cControl;
        } else if (cch > APPROVED_ENTRY_MAX) {
            ++m_cTooLong;
        } else if (m_cEntries == APPROVED_ENTRIES_MAX) {
            ++m_cBeyondMax;
        } else {
            const size_t cchPrefix = std::strcspn(pszEntry, "*?");
            size_t cchSuffix = 0;
            while (cchPrefix != cch && pszEntry[cch - 1 - cchSuffix] != '*' && pszEntry[cch - 1 - cchSuffix] != '?')
                ++cchSuffix;
            m_aIndex[m_cEntries] = {pszEntry, static_cast<unsigned short>(cchPrefix),
                                    static_cast<unsigned short>(cchSuffix)};
            m_abPrefixLength[cchPrefix] = true;
            m_apszEntries[m_cEntries++] = pszEntry;
        }
    }
    std::sort(m_aIndex, m_aIndex + m_cEntries, [](const Indexed& a, const Indexed& b) {
        return ComparePrefixes(a.pszEntry, a.cchPrefix, b.pszEntry, b.cchPrefix) < 0;
    });
}

bool CApprovedList::Approves(const char* pszInstanceId) const
{
    // An entry can match only where its literal prefix begins the ID: for
    // each length of prefix there is, the entries with the ID's own prefix of
    // that length stand together in the index.
    const size_t cchId = std::strlen(pszInstanceId);
    for (size_t cch = 0; cch <= cchId && cch <= APPROVED_ENTRY_MAX; ++cch) {
        if (!m_abPrefixLength[cch]) continue;
        const Indexed* pFirst = std::lower_bound(m_aIndex, m_aIndex + m_cEntries, cch,
                                                 [&](const Indexed& entry, size_t cchKey) {
                                                     return ComparePrefixes(entry.pszEntry, entry.cchPrefix,
                                                                            pszInstanceId, cchKey) < 0;
                                                 });
        for (const Indexed* p = pFirst; p != m_aIndex + m_cEntries &&
                                        ComparePrefixes(p->pszEntry, p->cchPrefix, pszInstanceId, cch) == 0;
             ++p) {
            const char* pszSuffix = p->pszEntry + std::strlen(p->pszEntry) - p->cchSuffix;
            if (p->cchSuffix != 0 && (cchId < p->cchSuffix ||
                                      ComparePrefixes(pszSuffix, p->cchSuffix, pszInstanceId + cchId - p->cchSuffix,
                                                      p->cchSuffix) != 0))
                continue;
            if (MatchesPattern(p->pszEntry, pszInstanceId)) return true;
        }
    }
    return false;
}

void CApprovedList::Describe(char (&szText)[APPROVED_LIST_TEXT_SIZE]) const
{
    // One character more than fits, so that a cut is seen and marked; the
    // entries beyond it are not looked at.
    char szAll[APPROVED_LIST_TEXT_SIZE + 1];
    szAll[0] = '\0';
    size_t cchAll = 0;
    for (size_t i = 0; i < m_cEntries && cchAll <= APPROVED_LIST_TEXT_MAX; ++i) {
        if (i != 0) AppendText(szAll, "; ");
        cchAll = AppendText(szAll, m_apszEntries[i]);
    }
    if (cchAll <= APPROVED_LIST_TEXT_MAX) {
        CopyText(szText, szAll);
        return;
    }
    char szKept[APPROVED_LIST_TEXT_SIZE - 3];  // room for "..."
    CopyText(szKept, szAll);
    FormatText(szText, "%s...", szKept);
}

void CApprovedList::DescribeProblems(char (&szText)[APPROVED_PROBLEM_TEXT_SIZE]) const
{
    szText[0] = '\0';
    if (m_cBeyondMax == 0 && m_cTooLong == 0 && m_cControl == 0) return;
    char szPart[APPROVED_PROBLEM_TEXT_SIZE];
    CopyText(szText, "entries left out:");
    const char* pszSeparator = " ";
    if (m_cBeyondMax != 0) {
        FormatText(szPart, "%s%u beyond the first %u", pszSeparator, static_cast<unsigned>(m_cBeyondMax),
                   static_cast<unsigned>(APPROVED_ENTRIES_MAX));
        AppendText(szText, szPart);
        pszSeparator = "; ";
    }
    if (m_cTooLong != 0) {
        FormatText(szPart, "%s%u over %u characters", pszSeparator, static_cast<unsigned>(m_cTooLong),
                   static_cast<unsigned>(APPROVED_ENTRY_MAX));
        AppendText(szText, szPart);
        pszSeparator = "; ";
    }
    if (m_cControl != 0) {
        FormatText(szPart, "%s%u with a control character", pszSeparator, static_cast<unsigned>(m_cControl));
        AppendText(szText, szPart);
    }
}
