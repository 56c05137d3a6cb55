// The USB storage volumes that are mounted, one record per drive letter:
// what the Application log says of each when it comes, kept for when it
// goes, since by then the volume can no longer be asked. No platform calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/device_identity.h"

constexpr size_t VOLUME_LETTERS = 26;                 // A: to Z:
constexpr size_t VOLUME_DRIVE_SIZE = 3;               // "E:"
constexpr size_t VOLUME_LABEL_SIZE = 33;              // NTFS's 32 characters, FAT's 11
constexpr size_t VOLUME_FILE_SYSTEM_SIZE = 16;        // "FAT32", "NTFS", "exFAT", "UDF"
constexpr size_t VOLUME_SERIAL_SIZE = 10;             // "4C53-0001"
constexpr size_t VOLUME_CAPACITY_SIZE = 21;           // a 64-bit count of bytes in decimal
constexpr size_t VOLUME_NAME_SIZE = 50;               // "\\?\Volume{GUID}\"
constexpr size_t VOLUME_INTERFACE_PATH_SIZE = 260;    // MAX_PATH

// One volume as events 104 to 106 tell of it.
struct VolumeFacts {
    char szDrive[VOLUME_DRIVE_SIZE];
    char szLabel[VOLUME_LABEL_SIZE];
    char szFileSystem[VOLUME_FILE_SYSTEM_SIZE];
    char szSerial[VOLUME_SERIAL_SIZE];
    char szCapacity[VOLUME_CAPACITY_SIZE];
    char szVolumeName[VOLUME_NAME_SIZE];
    char szInstanceId[DEVICE_ID_SIZE];  // the USB device that holds it; empty when it cannot be told
    PnpCapabilities capabilities;       // what that device says of itself, for its serial number
};

// The volume serial number as Windows' "vol" shows it: eight upper-case hex
// digits with a hyphen in the middle.
void FormatVolumeSerial(char (&szSerial)[VOLUME_SERIAL_SIZE], uint32_t dwSerial);
// A count of bytes in decimal.
void FormatCapacity(char (&szCapacity)[VOLUME_CAPACITY_SIZE], uint64_t cbCapacity);

class CVolumeTable {
public:
    CVolumeTable();

    // Records the volume of facts.szDrive ("E:"). False for a repeat: the
    // letter holds the same volume already, unless bNewMedium says a card
    // reader has a new card, which is a new volume. A volume heard of
    // through its device interface keeps that path (may be null or empty)
    // for its removal.
    bool Mount(const VolumeFacts& facts, const char* pszInterfacePath, bool bNewMedium);
    // Frees the letter's record into facts; false when none is recorded.
    bool Unmount(char cLetter, VolumeFacts& facts);
    // The letter of the volume heard of through pszInterfacePath, ASCII case
    // ignored; 0 when none.
    char LetterOfInterface(const char* pszInterfacePath) const;
    bool IsMounted(char cLetter) const;

private:
    struct Slot {
        bool bMounted;
        VolumeFacts facts;
        char szInterfacePath[VOLUME_INTERFACE_PATH_SIZE];
    };
    Slot m_slots[VOLUME_LETTERS];
};
