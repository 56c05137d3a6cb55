// The resources of the built Plugtrail.exe, read back through the system's
// own resource, version and message APIs: the icon group and its images, the
// German version information and the event log's English messages.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "eventlog/event_table.h"
#include "support/processes.h"

namespace {

constexpr WORD kIconGroupId = 101;

std::string PlugtrailPath()
{
    // The executable lands at the top of the build folder, above the tests.
    return ExeDirectory() + "..\\Plugtrail.exe";
}

// The executable loaded as a data file: resources only, no code runs.
class DataModule {
public:
    explicit DataModule(const std::string& path) : m_h(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE))
    {
    }
    ~DataModule()
    {
        if (m_h != nullptr) FreeLibrary(m_h);
    }
    DataModule(const DataModule&) = delete;
    DataModule& operator=(const DataModule&) = delete;
    HMODULE get() const { return m_h; }

    // The bytes of a resource, or an empty vector when there is none.
    std::vector<BYTE> Resource(LPCSTR type, WORD id) const
    {
        HRSRC hRes = FindResourceA(m_h, MAKEINTRESOURCEA(id), type);
        if (hRes == nullptr) return {};
        HGLOBAL hData = LoadResource(m_h, hRes);
        const BYTE* p = hData ? static_cast<const BYTE*>(LockResource(hData)) : nullptr;
        if (p == nullptr) return {};
        return std::vector<BYTE>(p, p + SizeofResource(m_h, hRes));
    }

private:
    HMODULE m_h;
};

#pragma pack(push, 2)
struct GroupIconDir {
    WORD idReserved;
    WORD idType;
    WORD idCount;
};
struct GroupIconEntry {
    BYTE bWidth;
    BYTE bHeight;
    BYTE bColorCount;
    BYTE bReserved;
    WORD wPlanes;
    WORD wBitCount;
    DWORD dwBytesInRes;
    WORD nId;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconEntry) == 14, "group icon entries are 14 bytes");

// Width of the colour bitmap of an icon the system built from a resource.
LONG IconBitmapWidth(HICON hIcon)
{
    ICONINFO info = {};
    if (!GetIconInfo(hIcon, &info)) return 0;
    BITMAP bm = {};
    const HBITMAP hbm = info.hbmColor ? info.hbmColor : info.hbmMask;
    const LONG width = GetObjectA(hbm, sizeof bm, &bm) ? bm.bmWidth : 0;
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return width;
}

TEST(Resources, IconGroupHoldsA32And16PixelImageIn16Colours)
{
    DataModule module(PlugtrailPath());
    ASSERT_NE(module.get(), nullptr) << "LoadLibraryExA error " << GetLastError();

    std::vector<BYTE> group = module.Resource(RT_GROUP_ICON, kIconGroupId);
    ASSERT_GE(group.size(), sizeof(GroupIconDir));
    GroupIconDir dir;
    std::memcpy(&dir, group.data(), sizeof dir);
    EXPECT_EQ(dir.idReserved, 0);
    EXPECT_EQ(dir.idType, 1);
    ASSERT_EQ(dir.idCount, 2);
    ASSERT_EQ(group.size(), sizeof dir + dir.idCount * sizeof(GroupIconEntry));

    std::vector<int> sizes;
    for (WORD i = 0; i < dir.idCount; ++i) {
        GroupIconEntry entry;
        std::memcpy(&entry, group.data() + sizeof dir + i * sizeof entry, sizeof entry);
        const int size = entry.bWidth;
        sizes.push_back(size);
        SCOPED_TRACE("icon " + std::to_string(size) + "x" + std::to_string(size));
        EXPECT_EQ(entry.bHeight, entry.bWidth);
        EXPECT_EQ(entry.bColorCount, 16);
        EXPECT_EQ(entry.wPlanes, 1);
        EXPECT_EQ(entry.wBitCount, 4);

        // The image the entry names, with the size the entry gives.
        std::vector<BYTE> image = module.Resource(RT_ICON, entry.nId);
        ASSERT_EQ(image.size(), entry.dwBytesInRes);
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER bih;
        std::memcpy(&bih, image.data(), sizeof bih);
        EXPECT_EQ(bih.biWidth, size);
        EXPECT_EQ(bih.biHeight, 2 * size);  // colour bitmap and mask
        EXPECT_EQ(bih.biBitCount, 4);
        EXPECT_EQ(bih.biCompression, static_cast<DWORD>(BI_RGB));
        // Header, 16 palette entries, 4-bit rows and 1-bit mask rows (32-bit aligned).
        const size_t cbXor = ((size * 4 + 31) / 32 * 4) * size;
        const size_t cbAnd = ((size + 31) / 32 * 4) * size;
        EXPECT_EQ(image.size(), sizeof bih + 16 * sizeof(RGBQUAD) + cbXor + cbAnd);

        // The system itself makes an icon of the image.
        HICON hIcon = CreateIconFromResourceEx(image.data(), static_cast<DWORD>(image.size()), TRUE, 0x00030000,
                                               size, size, LR_DEFAULTCOLOR);
        ASSERT_NE(hIcon, nullptr) << "CreateIconFromResourceEx error " << GetLastError();
        EXPECT_EQ(IconBitmapWidth(hIcon), size);
        DestroyIcon(hIcon);
    }
    EXPECT_EQ(sizes, (std::vector<int>{32, 16}));

    // The system picks the matching image for each of the two sizes.
    const int id32 = LookupIconIdFromDirectoryEx(group.data(), TRUE, 32, 32, LR_DEFAULTCOLOR);
    const int id16 = LookupIconIdFromDirectoryEx(group.data(), TRUE, 16, 16, LR_DEFAULTCOLOR);
    EXPECT_NE(id32, 0);
    EXPECT_NE(id16, 0);
    EXPECT_NE(id32, id16);
}

// A string value of the version block, or "<missing>".
std::string VersionString(std::vector<BYTE>& info, const char* pszName)
{
    const std::string query = std::string("\\StringFileInfo\\040704E4\\") + pszName;
    char* pszValue = nullptr;
    UINT cch = 0;
    if (!VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&pszValue), &cch) || pszValue == nullptr)
        return "<missing>";
    return pszValue;
}

TEST(Resources, VersionInformationIsGermanWithVersion0011)
{
    const std::string path = PlugtrailPath();
    DWORD dwHandle = 0;
    const DWORD cb = GetFileVersionInfoSizeA(path.c_str(), &dwHandle);
    ASSERT_NE(cb, 0u) << "GetFileVersionInfoSizeA error " << GetLastError();
    std::vector<BYTE> info(cb);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, cb, info.data()));

    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT cbFixed = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&pFixed), &cbFixed));
    ASSERT_GE(cbFixed, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(pFixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(pFixed->dwFileVersionMS, 0x00000000u);
    EXPECT_EQ(pFixed->dwFileVersionLS, 0x00010001u);
    EXPECT_EQ(pFixed->dwProductVersionMS, 0x00000000u);
    EXPECT_EQ(pFixed->dwProductVersionLS, 0x00010001u);
    EXPECT_EQ(pFixed->dwFileType, static_cast<DWORD>(VFT_APP));

    WORD* pTranslation = nullptr;
    UINT cbTranslation = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pTranslation),
                               &cbTranslation));
    ASSERT_EQ(cbTranslation, 4u);  // exactly one language
    EXPECT_EQ(pTranslation[0], 0x0407);
    EXPECT_EQ(pTranslation[1], 1252);

    EXPECT_EQ(VersionString(info, "FileDescription"), "Plugtrail");
    EXPECT_EQ(VersionString(info, "ProductName"), "Plugtrail");
    EXPECT_EQ(VersionString(info, "FileVersion"), "0.0.1.1");
    EXPECT_EQ(VersionString(info, "ProductVersion"), "0.0.1.1");
    EXPECT_EQ(VersionString(info, "OriginalFilename"), "Plugtrail.exe");
}

// A message of the table, formatted with the inserts as Event Viewer does.
std::string EventMessage(HMODULE hModule, DWORD dwId, const std::vector<const char*>& inserts)
{
    std::vector<DWORD_PTR> args;
    for (const char* pszInsert : inserts) args.push_back(reinterpret_cast<DWORD_PTR>(pszInsert));
    char szText[2048];
    const DWORD cch = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, hModule, dwId,
                                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), szText, sizeof szText,
                                     reinterpret_cast<va_list*>(args.data()));
    return cch == 0 ? "<error " + std::to_string(GetLastError()) + ">" : std::string(szText, cch);
}

TEST(Resources, EventMessagesShowEveryInsertOnALineOfItsOwn)
{
    DataModule module(PlugtrailPath());
    ASSERT_NE(module.get(), nullptr) << "LoadLibraryExA error " << GetLastError();
    // Every event ends with the console user, its sequence number and its run.
    const std::vector<const char*> common = {"VM\\root", "7", "2026-12-07T06:39:46Z"};
    const std::string commonLines = "\r\n\r\nConsole user: VM\\root\r\nSequence: 7\r\nRun: 2026-12-07T06:39:46Z";
    auto message = [&](DWORD dwId, std::vector<const char*> inserts) {
        inserts.insert(inserts.end(), common.begin(), common.end());
        return EventMessage(module.get(), dwId, inserts);
    };
    const std::vector<const char*> device = {"USB storage", "SanDisk Cruzer Blade", "USB Mass Storage Device",
                                             "Compatible USB storage device", "USB\\VID_0781&PID_5567\\4C530001",
                                             "0781", "5567", "4C530001"};
    const std::string fields =
        "\r\n\r\nType: USB storage\r\nFriendly name: SanDisk Cruzer Blade\r\nDescription: USB Mass Storage Device"
        "\r\nManufacturer: Compatible USB storage device\r\nInstance ID: USB\\VID_0781&PID_5567\\4C530001"
        "\r\nVendor ID: 0781\r\nProduct ID: 5567\r\nSerial number: 4C530001";
    EXPECT_EQ(message(100, device), "USB device attached." + fields + commonLines);
    EXPECT_EQ(message(101, device), "USB device removed." + fields + commonLines);
    EXPECT_EQ(message(103, device), "USB device present at start." + fields + commonLines);
    EXPECT_EQ(message(104, {"E:", "SANDISK", "FAT32", "4C53-0001", "1024", "\\\\?\\Volume{X}\\", device[4], "0781",
                            "5567", "4C530001"}),
              "USB storage volume mounted.\r\n\r\nDrive: E:\r\nLabel: SANDISK\r\nFile system: FAT32\r\nSerial number: "
              "4C53-0001\r\nCapacity (bytes): 1024\r\nVolume: \\\\?\\Volume{X}\\\r\n\r\nUSB device instance ID: "
              "USB\\VID_0781&PID_5567\\4C530001\r\nVendor ID: 0781\r\nProduct ID: 5567\r\nDevice serial number: 4C530001" +
                  commonLines);
    EXPECT_EQ(message(110, {"0.0.1.1", "2"}),
              "Monitoring started.\r\n\r\nVersion: 0.0.1.1\r\nDevices present at start: 2" + commonLines);
    EXPECT_EQ(message(111, {"window closed"}), "Monitoring stopped.\r\n\r\nReason: window closed" + commonLines);

    const struct {
        DWORD dwId;
        std::vector<const char*> inserts;
        const char* pszStart;
    } others[] = {
        {102, {"12"}, "Device log lines were lost.\r\n\r\nLines lost: 12\r\n"},
        {112, {"2026-12-06T08:00:00.250Z", "41"},
         "The previous run ended without a stop.\r\n\r\nPrevious run (its start in UTC): 2026-12-06T08:00:00.250Z\r\n"
         "Last sequence number of that run: 41\r\n"},
        {120, {"C:\\_UsbDevices.log", "112", "No space."},
         "The device log cannot be written.\r\n\r\nDevice log: C:\\_UsbDevices.log\r\nError: 112\r\n"
         "Error text: No space.\r\n"},
        {121, {"5", "Access denied."},
         "Device notifications could not be registered.\r\n\r\nError: 5\r\nError text: Access denied.\r\n"},
        {122, {"StartServiceCtrlDispatcher Error=1063"},
         "The Plugtrail service reported an error.\r\n\r\nStartServiceCtrlDispatcher Error=1063"},
    };
    for (const auto& other : others) {
        const std::string text = message(other.dwId, other.inserts);
        EXPECT_EQ(0u, text.rfind(other.pszStart, 0)) << text;
        EXPECT_EQ(commonLines, text.substr(text.size() - std::min(text.size(), commonLines.size()))) << text;
    }
}

// The message file's texts by ID, each as the lines between "Language=" and
// the line holding a lone ".".
std::map<unsigned long, std::string> MessageFileTexts(const char* pszPath)
{
    std::map<unsigned long, std::string> texts;
    std::ifstream file(pszPath);
    unsigned long id = 0;
    bool bInText = false;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("MessageId=", 0) == 0) id = std::stoul(line.substr(10));
        if (bInText && line == ".") bInText = false;
        if (bInText) texts[id] += line;
        if (line.rfind("Language=", 0) == 0) bInText = true;
    }
    return texts;
}

// The highest insert a message text numbers.
size_t InsertCount(const std::string& text)
{
    size_t count = 0;
    for (size_t i = text.find('%'); i != std::string::npos; i = text.find('%', i + 1)) {
        size_t n = 0;
        for (size_t j = i + 1; j < text.size() && text[j] >= '0' && text[j] <= '9'; ++j) n = n * 10 + (text[j] - '0');
        count = std::max(count, n);
    }
    return count;
}

// The table the program reports from and the message file agree: every row
// has its message and every message its row; a message numbers as many
// inserts as its row has strings, with the three every event ends with; and
// it labels each string with the row's name for it.
TEST(Resources, EventTableMatchesTheMessageFile)
{
    const std::map<unsigned long, std::string> texts = MessageFileTexts(PLUGTRAIL_MESSAGES_MC);
    ASSERT_FALSE(texts.empty()) << PLUGTRAIL_MESSAGES_MC;
    EXPECT_EQ(texts.size(), std::size(kEvents));
    for (const EventDescription& event : kEvents) {
        SCOPED_TRACE("event " + std::to_string(event.id));
        const auto it = texts.find(event.id);
        ASSERT_NE(it, texts.end());
        const size_t own = EventStringCount(event.id);
        EXPECT_EQ(InsertCount(it->second), own + EVENT_COMMON_STRINGS) << it->second;
        for (size_t i = 0; i < own + EVENT_COMMON_STRINGS; ++i) {
            const char* pszName = i < own ? event.apszNames[i] : kCommonStringNames[i - own];
            const std::string insert = "%" + std::to_string(i + 1) + "%";
            const std::string labelled = (pszName[0] != '\0' ? std::string(pszName) + ": " : "") + insert;
            EXPECT_NE(it->second.find(labelled), std::string::npos) << labelled << " in " << it->second;
        }
    }
}

}  // namespace
