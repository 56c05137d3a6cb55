// Drives the device store with arbitrary adds, finds and removes of paths of
// any length, checking it against a simple model of which paths are stored;
// each path is also read as an interface path and as an instance ID.
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
        ParseUsbIdentity(path.c_str(), identity);
        if (std::strchr(identity.szSerial, '&') != nullptr || std::strlen(identity.szVendorId) % 4 != 0) std::abort();
        switch (op % 3) {
        case 0: {
            int free = -1;
            for (int i = 0; i < DEVICE_STORE_SLOTS && free < 0; ++i)
                if (model[i].empty()) free = i;
            const bool added = store->AddVolume(path.c_str(), path.c_str(), path.c_str(), path.c_str(),
                                                path.c_str(), path.c_str(), path.c_str());
            if (added != (free >= 0)) std::abort();
            if (added && !stored.empty()) model[free] = stored;
            if (added && stored.empty()) { /* an empty path leaves the slot free */ }
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
            }
            break;
        }
        }
        for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) {
            const DeviceRecord& r = store->Record(i);
            if (model[i] != r.szDevicePath) std::abort();
            if (!model[i].empty() && (std::strlen(r.szService) >= RECORD_SERVICE_SIZE ||
                                      std::strlen(r.szMfg) >= RECORD_TEXT_SIZE))
                std::abort();
        }
    }
    return 0;
}
