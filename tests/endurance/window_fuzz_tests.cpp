// Thousands of random WM_DEVICECHANGE messages to the running service's
// window: known and unknown event codes, records of every type with random
// sizes, GUIDs and name bytes, some too short for their type and some with
// names that never end. The service must survive, keep answering, and log
// exactly one well-formed line for every event it logs.
#include <windows.h>

#include <dbt.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "endurance/installed_service.h"
#include "support/device_broadcast.h"
#include "support/simulated_usb.h"

namespace {

constexpr int kMessages = 3000;
constexpr unsigned kDefaultSeed = 20261207;
constexpr size_t kNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
constexpr size_t kStoreSlots = 200;
constexpr size_t kRememberedPathChars = 259;

const WPARAM kKnownCodes[] = {0x0007, 0x8000, 0x8001, 0x8002, 0x8003, 0x8004, 0x8005, 0x8006, 0x0017, 0x0018, 0x0019};

unsigned Seed()
{
    const char* psz = std::getenv("PLUGTRAIL_FUZZ_SEED");
    return psz != nullptr ? static_cast<unsigned>(std::strtoul(psz, nullptr, 0)) : kDefaultSeed;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// What the service is expected to do with the interface events among the
// noise: the event it saw last, the paths it keeps, the lines it writes.
class Expectation {
public:
    explicit Expectation(const std::string& presentPath) : m_present(Lower(presentPath)) {}

    void Interface(bool bArrived, const GUID& /*guid*/, const std::string& path)
    {
        ++m_events;
        if (bArrived == m_bLastArrival && path == m_lastPath) return;  // a repeat
        m_bLastArrival = bArrived;
        m_lastPath = path.substr(0, kRememberedPathChars);
        if (bArrived) {
            ++m_lines;  // found or not, an arrival is logged and stored
            Store(path);
            return;
        }
        const auto it = std::find(m_stored.begin(), m_stored.end(), Lower(path));
        if (it == m_stored.end()) return;
        ++m_lines;
        m_stored.erase(it);
    }
    size_t Lines() const { return m_lines; }
    size_t Events() const { return m_events; }

private:
    // In the record of its path, else in a free slot, which a full store
    // makes by giving up the records of devices not present.
    void Store(const std::string& path)
    {
        if (path.empty() || std::find(m_stored.begin(), m_stored.end(), Lower(path)) != m_stored.end()) return;
        if (m_stored.size() == kStoreSlots)
            m_stored.erase(std::remove_if(m_stored.begin(), m_stored.end(),
                                          [&](const std::string& stored) { return stored != m_present; }),
                           m_stored.end());
        if (m_stored.size() < kStoreSlots) m_stored.push_back(Lower(path.substr(0, kRememberedPathChars)));
    }

    std::string m_present;
    bool m_bLastArrival = false;
    std::string m_lastPath;
    std::vector<std::string> m_stored;
    size_t m_lines = 0;
    size_t m_events = 0;
};

class Generator {
public:
    Generator(unsigned seed, const std::string& presentPath) : m_rng(seed), m_present(presentPath) {}

    unsigned Below(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(m_rng); }
    bool Chance(unsigned percent) { return Below(100) < percent; }

    WPARAM Code()
    {
        // Arrivals and removals, the codes the handler acts on, come often.
        if (Chance(40)) return Chance(50) ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
        if (Chance(75)) return kKnownCodes[Below(sizeof kKnownCodes / sizeof kKnownCodes[0])];
        return static_cast<WPARAM>(m_rng());
    }

    // A record of a random type whose dbch_size bytes all lie in the buffer.
    // The size never goes below the header, the least any record is: the
    // platform marshals dbch_size bytes, and the handler's first read is the
    // size itself.
    std::vector<BYTE> Record(WPARAM code)
    {
        if ((code == DBT_DEVICEARRIVAL || code == DBT_DEVICEREMOVECOMPLETE) && Chance(60))
            return InterfaceRecordWithNoise();
        static const DWORD kTypes[] = {DBT_DEVTYP_VOLUME, DBT_DEVTYP_PORT, DBT_DEVTYP_DEVICEINTERFACE,
                                       DBT_DEVTYP_HANDLE, DBT_DEVTYP_OEM};
        const DWORD type = Chance(90) ? kTypes[Below(5)] : static_cast<DWORD>(m_rng());
        if (type == DBT_DEVTYP_DEVICEINTERFACE && Chance(60)) return InterfaceRecordWithNoise();

        const size_t cb = Chance(80) ? sizeof(DEV_BROADCAST_HDR) + Below(64) : sizeof(DEV_BROADCAST_HDR) + Below(2048);
        std::vector<BYTE> buffer(cb);
        for (BYTE& b : buffer) b = static_cast<BYTE>(m_rng());
        auto* hdr = reinterpret_cast<DEV_BROADCAST_HDR*>(buffer.data());
        hdr->dbch_size = static_cast<DWORD>(cb);
        hdr->dbch_devicetype = type;
        if (type == DBT_DEVTYP_HANDLE && cb >= sizeof(DEV_BROADCAST_HANDLE) && Chance(50)) {
            // Now and then one of the media events the handler looks for.
            static const GUID kMedia = {0xD07433C0, 0xA98E, 0x11D2, {0x91, 0x7A, 0x00, 0xA0, 0xC9, 0x06, 0x8F, 0xF3}};
            GUID guid = kMedia;
            guid.Data1 += Below(2);
            reinterpret_cast<DEV_BROADCAST_HANDLE*>(hdr)->dbch_eventguid = guid;
        }
        return buffer;
    }

    // A device-interface record: the USB class or a random GUID; the present
    // stick's path in some letter case, or random bytes; terminated within
    // the record or not; or cut short of the name.
    std::vector<BYTE> InterfaceRecordWithNoise()
    {
        GUID guid = kUsbDeviceInterfaceGuid;
        if (Chance(30))
            for (size_t i = 0; i < sizeof guid; ++i) reinterpret_cast<BYTE*>(&guid)[i] = static_cast<BYTE>(m_rng());

        std::string name;
        if (Chance(25)) {
            name = m_present;
            if (Chance(50)) name = Lower(name);
        } else {
            const size_t length = Chance(85) ? Below(120) : Below(1500);
            for (size_t i = 0; i < length; ++i) name.push_back(static_cast<char>(1 + Below(255)));
        }

        size_t cb = kNameOffset + name.size() + 1;
        const unsigned shape = Below(10);
        if (shape == 0) cb = sizeof(DEV_BROADCAST_HDR) + Below(kNameOffset - sizeof(DEV_BROADCAST_HDR) + 1);
        else if (shape == 1 && !name.empty()) cb = kNameOffset + name.size();  // no room for the terminator
        else if (shape == 2) cb += Below(64);                                  // slack behind the name

        std::vector<BYTE> buffer(std::max(cb, kNameOffset + name.size() + 1));
        for (BYTE& b : buffer) b = static_cast<BYTE>(1 + Below(255));
        auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(buffer.data());
        record->dbcc_size = static_cast<DWORD>(cb);
        record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        record->dbcc_classguid = guid;
        std::memcpy(record->dbcc_name, name.c_str(), name.size() + 1);
        buffer.resize(cb);  // only what the record claims travels
        return buffer;
    }

private:
    std::mt19937 m_rng;
    std::string m_present;
};

// The interface event the service acts on, if this message carries one:
// code and record as the handler reads them, within what the record claims.
bool InterfaceEventOf(WPARAM code, const std::vector<BYTE>& record, bool& bArrived, GUID& guid, std::string& path)
{
    if ((code != DBT_DEVICEARRIVAL && code != DBT_DEVICEREMOVECOMPLETE) || record.size() <= kNameOffset) return false;
    const auto* iface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(record.data());
    if (iface->dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return false;
    const char* pszName = iface->dbcc_name;
    const size_t room = record.size() - kNameOffset;
    const void* pEnd = std::memchr(pszName, '\0', room);
    if (pEnd == nullptr) return false;
    bArrived = code == DBT_DEVICEARRIVAL;
    guid = iface->dbcc_classguid;
    path.assign(pszName, static_cast<const char*>(pEnd) - pszName);
    return true;
}

class WindowFuzz : public InstalledServiceTest {};

TEST_F(WindowFuzz, RandomDeviceChangeMessagesLeaveTheServiceAnsweringAndItsLogWellFormed)
{
    const unsigned seed = Seed();
    std::printf("window fuzz seed %u (set PLUGTRAIL_FUZZ_SEED to repeat another)\n", seed);
    SCOPED_TRACE("seed " + std::to_string(seed));

    SimulatedUsbDevice stick(StorageStickSpec("USB\\VID_0781&PID_5567\\F0220001", "Fuzz stick"));
    stick.SetPresent(true);
    Generator gen(seed, stick.BroadcastPath());
    Expectation expected(stick.InterfacePath());

    for (int i = 0; i < kMessages; ++i) {
        const WPARAM code = gen.Code();
        std::vector<BYTE> record;
        LPARAM lParam = 0;
        if (code & 0x8000) {
            // Marshalled: the window gets a copy of dbch_size bytes, or null.
            if (!gen.Chance(5)) {
                record = gen.Record(code);
                lParam = reinterpret_cast<LPARAM>(record.data());
            }
        } else if (gen.Chance(30)) {
            lParam = static_cast<LPARAM>(gen.Below(0x10000));  // not a pointer, and never read as one
        }
        DWORD_PTR result = 0;
        ASSERT_TRUE(SendMessageTimeoutA(m_hwnd, WM_DEVICECHANGE, code, lParam, SMTO_ABORTIFHUNG, 10000, &result))
            << "message " << i << ", code 0x" << std::hex << code << ": no answer";

        bool bArrived = false;
        GUID guid;
        std::string path;
        if (lParam != 0 && InterfaceEventOf(code, record, bArrived, guid, path))
            expected.Interface(bArrived, guid, path);
    }
    ASSERT_TRUE(m_process->Alive());
    std::printf("%u interface events reached the handler, %u lines expected\n",
                static_cast<unsigned>(expected.Events()), static_cast<unsigned>(expected.Lines()));

    // Every line is a dated device line, and there is one for every event
    // that should have been logged.
    const std::regex line(R"(.+ - .+  .* device (attached|removed): '.*' / '.*' / '.*')");
    const std::vector<std::string> lines = ReadLines(kDeviceLog);
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], line)) << "line " << i << ": " << lines[i];
    EXPECT_EQ(lines.size(), expected.Lines());

    // Still at work: a real device's arrival and removal give their two lines.
    SimulatedUsbDevice after(StorageStickSpec("USB\\VID_0781&PID_5567\\F0220002", "After the storm"));
    after.SetPresent(true);
    const std::vector<BYTE> record = InterfaceRecord(kUsbDeviceInterfaceGuid, after.BroadcastPath());
    ASSERT_TRUE(SendDeviceChange(m_hwnd, DBT_DEVICEARRIVAL, record.data()));
    after.SetPresent(false);
    ASSERT_TRUE(SendDeviceChange(m_hwnd, DBT_DEVICEREMOVECOMPLETE, record.data()));
    const std::vector<std::string> all = ReadLines(kDeviceLog);
    ASSERT_EQ(all.size(), lines.size() + 2);
    const std::string tail = "'After the storm' / 'USB Mass Storage Device' / 'Compatible USB storage device'";
    for (size_t i = lines.size(); i < all.size(); ++i) {
        const char* pszVerb = i == lines.size() ? "attached" : "removed";
        EXPECT_NE(all[i].find(std::string("  USB storage device ") + pszVerb + ": " + tail), std::string::npos)
            << all[i];
    }
}

// Any program that reaches the service's window and threads (on Windows one on
// the service's own desktop; under Wine any) may close the window or post
// WM_QUIT: the service must neither stop nor go deaf, and still end cleanly
// when the SCM stops it.
class ForeignMessages : public InstalledServiceTest {};

TEST_F(ForeignMessages, NeitherStopNorDeafenTheService)
{
    const DWORD pid = ServiceProcessId("Plugtrail");
    int quits = 0;
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL bMore = Thread32First(hSnapshot, &entry); bMore; bMore = Thread32Next(hSnapshot, &entry))
        if (entry.th32OwnerProcessID == pid && PostThreadMessageA(entry.th32ThreadID, WM_QUIT, 0, 0)) ++quits;
    CloseHandle(hSnapshot);
    EXPECT_GE(quits, 2) << "Run's thread and the window thread";
    DWORD_PTR result = 0;
    ASSERT_NE(0, SendMessageTimeoutA(m_hwnd, WM_CLOSE, 0, 0, SMTO_NORMAL, 10000, &result));
    EXPECT_TRUE(IsWindow(m_hwnd));

    SimulatedUsbDevice stick(StorageStickSpec("USB\\VID_0781&PID_5567\\F0E16001", "Foreign"));
    stick.SetPresent(true);
    const std::vector<BYTE> record = InterfaceRecord(kUsbDeviceInterfaceGuid, stick.BroadcastPath());
    ASSERT_TRUE(SendDeviceChange(m_hwnd, DBT_DEVICEARRIVAL, record.data()));
    ASSERT_TRUE(SendDeviceChange(m_hwnd, DBT_DEVNODES_CHANGED, nullptr)) << "the window thread still pumps";
    EXPECT_EQ(1u, ReadLines(kDeviceLog).size());

    HANDLE hProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    ASSERT_NE(nullptr, hProcess);
    SC_HANDLE hScm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE hService = OpenServiceA(hScm, "Plugtrail", SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    EXPECT_TRUE(QueryServiceStatus(hService, &status));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
    EXPECT_TRUE(ControlService(hService, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    CloseServiceHandle(hService);
    CloseServiceHandle(hScm);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hProcess, 20000));
    DWORD dwExitCode = STILL_ACTIVE;
    GetExitCodeProcess(hProcess, &dwExitCode);
    EXPECT_EQ(0u, dwExitCode);
    CloseHandle(hProcess);
}

}  // namespace
