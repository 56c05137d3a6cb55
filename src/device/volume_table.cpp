#include "device/volume_table.h"

#include <cstring>

#include "util/text.h"

void FormatVolumeSerial(char (&szSerial)[VOLUME_SERIAL_SIZE], uint32_t dwSerial)
{
    FormatText(szSerial, "%04X-%04X", static_cast<unsigned>(dwSerial >> 16), static_cast<unsigned>(dwSerial & 0xFFFF));
}

void FormatCapacity(char (&szCapacity)[VOLUME_CAPACITY_SIZE], uint64_t cbCapacity)
{
    // Digits from the end: the C runtime of XP knows no "%llu".
    char szDigits[VOLUME_CAPACITY_SIZE];
    size_t i = VOLUME_CAPACITY_SIZE - 1;
    szDigits[i] = '\0';
    do {
        szDigits[--i] = static_cast<char>('0' + cbCapacity % 10);
        cbCapacity /= 10;
    } while (cbCapacity != 0 && i > 0);
    CopyText(szCapacity, szDigits + i);
}

namespace {

// The slot of 'E' or 'e'; -1 for anything else.
int IndexOfLetter(char cLetter)
{
    const char c = UpperAscii(cLetter);
    return c >= 'A' && c <= 'Z' ? c - 'A' : -1;
}

}  // namespace

CVolumeTable::CVolumeTable() : m_slots() {}

bool CVolumeTable::Mount(const VolumeFacts& facts, const char* pszInterfacePath, bool bNewMedium)
{
    const int index = IndexOfLetter(facts.szDrive[0]);
    if (index < 0) return false;
    Slot* pSlot = &m_slots[index];
    const bool bRepeat =
        pSlot->bMounted && !bNewMedium && std::strcmp(pSlot->facts.szVolumeName, facts.szVolumeName) == 0;
    if (!bRepeat) {
        pSlot->bMounted = true;
        pSlot->facts = facts;
        pSlot->szInterfacePath[0] = '\0';
    }
    // Heard of both ways, the volume keeps the path it can be removed by.
    if (pszInterfacePath != nullptr && pszInterfacePath[0] != '\0') CopyText(pSlot->szInterfacePath, pszInterfacePath);
    return !bRepeat;
}

bool CVolumeTable::Unmount(char cLetter, VolumeFacts& facts)
{
    const int index = IndexOfLetter(cLetter);
    if (index < 0 || !m_slots[index].bMounted) return false;
    Slot* pSlot = &m_slots[index];
    facts = pSlot->facts;
    pSlot->bMounted = false;
    pSlot->szInterfacePath[0] = '\0';
    return true;
}

char CVolumeTable::LetterOfInterface(const char* pszInterfacePath) const
{
    for (size_t i = 0; i < VOLUME_LETTERS; ++i) {
        const Slot& slot = m_slots[i];
        if (slot.bMounted && slot.szInterfacePath[0] != '\0' &&
            EqualsIgnoreAsciiCase(slot.szInterfacePath, pszInterfacePath))
            return static_cast<char>('A' + i);
    }
    return 0;
}

bool CVolumeTable::IsMounted(char cLetter) const
{
    const int index = IndexOfLetter(cLetter);
    return index >= 0 && m_slots[index].bMounted;
}
