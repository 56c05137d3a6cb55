#include "device/device_identity.h"

#include <cstring>

#include "util/text.h"

namespace {

constexpr size_t USB_ID_DIGITS = USB_ID_HEX_SIZE - 1;
constexpr char INTERFACE_PATH_PREFIX[] = "\\\\?\\";

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Takes the digits of "VID_0A0B" (for the key "VID_") when the token is
// exactly the key and four hex digits.
void TakeHexId(const char* pToken, size_t cchToken, const char* pszKey, char (&szOut)[USB_ID_HEX_SIZE])
{
    const size_t cchKey = std::strlen(pszKey);
    if (cchToken != cchKey + USB_ID_DIGITS || !StartsWithIgnoreAsciiCase(pToken, pszKey)) return;
    for (size_t i = 0; i < USB_ID_DIGITS; ++i) {
        if (!IsHexDigit(pToken[cchKey + i])) return;
    }
    for (size_t i = 0; i < USB_ID_DIGITS; ++i) szOut[i] = UpperAscii(pToken[cchKey + i]);
    szOut[USB_ID_DIGITS] = '\0';
}

}  // namespace

bool IsMadeUpSerial(const char* pszInstancePart, const PnpCapabilities& capabilities)
{
    if (capabilities.bKnown) return (capabilities.ulFlags & CAPABILITY_UNIQUE_ID) == 0;
    return pszInstancePart[0] != '\0' && pszInstancePart[1] == '&';
}

void ParseUsbIdentity(const char* pszInstanceId, const PnpCapabilities& capabilities, UsbIdentity& identity)
{
    identity.szVendorId[0] = '\0';
    identity.szProductId[0] = '\0';
    identity.szSerial[0] = '\0';

    // enumerator \ device ID \ instance: only an ID with all three parts has
    // an instance part to call a serial number.
    const char* pDeviceId = std::strchr(pszInstanceId, '\\');
    if (pDeviceId == nullptr) return;
    ++pDeviceId;
    const char* pDeviceIdEnd = std::strchr(pDeviceId, '\\');
    const char* pEnd = pDeviceIdEnd != nullptr ? pDeviceIdEnd : pDeviceId + std::strlen(pDeviceId);

    for (const char* pToken = pDeviceId; pToken < pEnd;) {
        const char* pAmp = static_cast<const char*>(std::memchr(pToken, '&', static_cast<size_t>(pEnd - pToken)));
        const char* pTokenEnd = pAmp != nullptr ? pAmp : pEnd;
        const size_t cchToken = static_cast<size_t>(pTokenEnd - pToken);
        TakeHexId(pToken, cchToken, "VID_", identity.szVendorId);
        TakeHexId(pToken, cchToken, "PID_", identity.szProductId);
        pToken = pTokenEnd + 1;
    }

    if (pDeviceIdEnd == nullptr) return;
    const char* pszLast = std::strrchr(pDeviceIdEnd, '\\') + 1;
    if (!IsMadeUpSerial(pszLast, capabilities)) CopyText(identity.szSerial, pszLast);
}

void InstanceIdFromInterfacePath(const char* pszPath, char (&szInstanceId)[DEVICE_ID_SIZE])
{
    szInstanceId[0] = '\0';
    const size_t cchPrefix = sizeof INTERFACE_PATH_PREFIX - 1;
    if (std::strncmp(pszPath, INTERFACE_PATH_PREFIX, cchPrefix) != 0) return;
    const char* pszId = pszPath + cchPrefix;

    // The interface class GUID closes the path: "#{...}".
    size_t cchId = std::strlen(pszId);
    const char* pszGuid = std::strrchr(pszId, '#');
    if (pszGuid != nullptr && pszGuid[1] == '{') cchId = static_cast<size_t>(pszGuid - pszId);
    if (cchId == 0 || cchId >= DEVICE_ID_SIZE) return;

    CopyText(szInstanceId, pszId);
    szInstanceId[cchId] = '\0';
    for (char* p = szInstanceId; *p != '\0'; ++p) {
        if (*p == '#') *p = '\\';
    }
}

bool IsUsbDeviceId(const char* pszDeviceId)
{
    if (!StartsWithIgnoreAsciiCase(pszDeviceId, "USB\\")) return false;
    for (const char* p = pszDeviceId; *p != '\0'; ++p) {
        if (StartsWithIgnoreAsciiCase(p, "&MI_")) return false;
    }
    return true;
}

bool IsRecordedUsbDevice(const char* pszInstanceId)
{
    return IsUsbDeviceId(pszInstanceId) && !StartsWithIgnoreAsciiCase(pszInstanceId, "USB\\ROOT_HUB");
}
