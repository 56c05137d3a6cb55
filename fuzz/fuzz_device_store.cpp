// Drives the device store with arbitrary adds, seeds, finds, removes and
// releases of paths of any length, checking it against a simple model of
// which paths are stored and which records were seeded (an arrival takes the
// record of its path over); each path is also read as an interface path and
// as an instance ID.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/device_identity.h"
#include "device/device_store.h"
#include "util/text.h"

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto store = std::make_unique<CDeviceInfoStore>();
    std::vector<std::string> model(DEVICE_STORE_SLOTS);  // empty: free
    std::vector<bool> seeded(DEVICE_STORE_SLOTS);
    size_t pos = 0;
    auto next = [&]() -> uint8_t { return pos < size ? data[pos++] : 0; };

    while (pos < size) {
        const uint8_t op = next();
        const size_t len = (static_cast<size_t>(next()) << 1) | (op & 1);  // up to 511
        std::string path;
        for (size_t i = 0; i < len && pos < size; ++i) {
            const char c = static_cast<char>(next());
            if (c != '\0') path.push_back(c);
        }
        const std::string stored = path.substr(0, DEVICE_PATH_SIZE - 1);

        char szInstanceId[DEVICE_ID_SIZE];
        InstanceIdFromInterfacePath(path.c_str(), szInstanceId);
        if (std::strchr(szInstanceId, '#') != nullptr) std::abort();
        UsbIdentity identity;
        ParseUsbIdentity(path.c_str(), CAPABILITIES_UNKNOWN, identity);
        if (IsMadeUpSerial(identity.szSerial, CAPABILITIES_UNKNOWN) || std::strlen(identity.szVendorId) % 4 != 0)
            std::abort();
        const PnpCapabilities capabilities = {true, op & 0x10u};
        ParseUsbIdentity(path.c_str(), capabilities, identity);
        if ((op & 0x10u) == 0 && identity.szSerial[0] != '\0') std::abort();
        switch (op % 5) {
        case 0:
        case 3: {
            const bool seed = op % 5 == 3;
            int slot = -1;
            for (int i = 0; i < DEVICE_STORE_SLOTS && slot < 0; ++i)
                if (!model[i].empty() && Lower(model[i]) == Lower(path)) slot = i;
            for (int i = 0; i < DEVICE_STORE_SLOTS && slot < 0; ++i)
                if (model[i].empty()) slot = i;
            DeviceFields fields;
            for (char* field : {fields.szService, fields.szFriendlyName, fields.szDeviceDesc, fields.szMfg})
                text_detail::CopyBounded(field, DEVINFO_TEXT_SIZE, path.c_str());
            CopyText(fields.szTypeName, path.c_str());
            CopyText(fields.szInstanceId, path.c_str());
            fields.capabilities = capabilities;
            const bool added = seed ? store->SeedDevice(path.c_str(), fields) : store->AddDevice(path.c_str(), fields);
            if (added != (slot >= 0)) std::abort();
            if (added) {  // an empty path leaves the slot free
                model[slot] = stored;
                seeded[slot] = seed && !stored.empty();
            }
            break;
        }
        case 1: {
            int expected = -1;
            for (int i = 0; i < DEVICE_STORE_SLOTS && expected < 0; ++i)
                if (!model[i].empty() && Lower(model[i]) == Lower(path)) expected = i;
            if (store->FindVolume(path.c_str()) != expected) std::abort();
            break;
        }
        case 2: {
            const int index = store->FindVolume(path.c_str());
            if (index >= 0) {
                store->RemoveVolume(index);
                model[index].clear();
                seeded[index] = false;
            }
            break;
        }
        case 4: {  // the records whose path has the first byte of this one are gone
            const char gone = path.empty() ? '\0' : path[0];
            int expected = 0;
            for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) {
                if (model[i].empty() || model[i][0] != gone) continue;
                model[i].clear();
                seeded[i] = false;
                ++expected;
            }
            auto isPresent = [](void* pGone, const char* pszPath) { return pszPath[0] != *static_cast<char*>(pGone); };
            char goneByte = gone;
            if (store->ReleaseAbsent(isPresent, &goneByte) != expected) std::abort();
            break;
        }
        }
        for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) {
            const DeviceRecord& r = store->Record(i);
            if (model[i] != r.szDevicePath) std::abort();
            if (!model[i].empty() && r.bSeeded != seeded[i]) std::abort();
            if (!model[i].empty() && (std::strlen(r.szService) >= RECORD_SERVICE_SIZE ||
                                      std::strlen(r.szMfg) >= RECORD_TEXT_SIZE))
                std::abort();
        }
    }
    return 0;
}
