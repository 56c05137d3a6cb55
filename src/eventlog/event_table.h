// Every event of the Plugtrail source in the Application log, in one table:
// its ID (the message of res/plugtrail_messages.mc), its level and the names
// its message gives its own strings. Every event ends with three more: the
// console user, its sequence number within the run and the run. A new event
// is a message, a name here and a row of the table. No platform calls.
#pragma once

#include <cstddef>

// The messages' IDs. Plain enumerators, so that they serve as the numbers
// the system takes; a switch over them names each, and the compiler flags
// one that a new event would miss.
enum EventId : unsigned long {
    EVENT_DEVICE_ATTACHED = 100,
    EVENT_DEVICE_REMOVED = 101,
    EVENT_LINES_LOST = 102,
    EVENT_DEVICE_PRESENT = 103,
    EVENT_VOLUME_MOUNTED = 104,
    EVENT_VOLUME_REMOVED = 105,
    EVENT_VOLUME_PRESENT = 106,
    EVENT_DEVICE_KNOWN_BEFORE = 107,
    EVENT_DEVICE_FIRST_SEEN = 108,
    EVENT_KEYBOARD_ATTACHED = 109,
    EVENT_MONITORING_STARTED = 110,
    EVENT_MONITORING_STOPPED = 111,
    EVENT_UNCLEAN_END = 112,
    EVENT_DEVICE_NOT_APPROVED = 113,
    EVENT_APPROVED_LIST = 114,
    EVENT_LOG_UNWRITABLE = 120,
    EVENT_NOTIFICATIONS_FAILED = 121,
    EVENT_SERVICE_ERROR = 122,
};

// The event types of ReportEvent, by their numbers.
enum class EventLevel : unsigned short { Error = 1, Warning = 2, Information = 4 };

// An event's own strings at most, before the three that every event ends with.
constexpr size_t EVENT_OWN_STRINGS_MAX = 11;
constexpr size_t EVENT_COMMON_STRINGS = 3;

struct EventDescription {
    EventId id;
    EventLevel level;
    // Strings that come from devices and their media: control characters
    // become spaces, as in the device log, and each is cut to a field.
    bool bDeviceTexts;
    // As the message labels them ("Type" for "Type: %1"); an empty name for
    // a string that stands on its own. The list ends at the first null.
    const char* apszNames[EVENT_OWN_STRINGS_MAX];
};

// A device's eight strings, first in events 100, 101, 103, 107, 108, 109 and
// 113.
#define PLUGTRAIL_DEVICE_STRING_NAMES \
    "Type", "Friendly name", "Description", "Manufacturer", "Instance ID", "Vendor ID", "Product ID", "Serial number"
// A volume's six and the four of the USB device that holds it.
#define PLUGTRAIL_VOLUME_STRING_NAMES                                                                          \
    "Drive", "Label", "File system", "Serial number", "Capacity (bytes)", "Volume", "USB device instance ID", \
        "Vendor ID", "Product ID", "Device serial number"

inline constexpr EventDescription kEvents[] = {
    {EVENT_DEVICE_ATTACHED, EventLevel::Information, true, {PLUGTRAIL_DEVICE_STRING_NAMES}},
    {EVENT_DEVICE_REMOVED, EventLevel::Information, true, {PLUGTRAIL_DEVICE_STRING_NAMES}},
    {EVENT_LINES_LOST, EventLevel::Warning, false, {"Lines lost"}},
    {EVENT_DEVICE_PRESENT, EventLevel::Information, true, {PLUGTRAIL_DEVICE_STRING_NAMES}},
    {EVENT_VOLUME_MOUNTED, EventLevel::Information, true, {PLUGTRAIL_VOLUME_STRING_NAMES}},
    {EVENT_VOLUME_REMOVED, EventLevel::Information, true, {PLUGTRAIL_VOLUME_STRING_NAMES}},
    {EVENT_VOLUME_PRESENT, EventLevel::Information, true, {PLUGTRAIL_VOLUME_STRING_NAMES}},
    {EVENT_DEVICE_KNOWN_BEFORE, EventLevel::Information, true,
     {PLUGTRAIL_DEVICE_STRING_NAMES, "First installed (UTC)", "Last arrival (UTC)", "Last removal (UTC)"}},
    {EVENT_DEVICE_FIRST_SEEN, EventLevel::Information, true, {PLUGTRAIL_DEVICE_STRING_NAMES}},
    // A warning where the keyboard is new to the machine.
    {EVENT_KEYBOARD_ATTACHED, EventLevel::Information, true,
     {PLUGTRAIL_DEVICE_STRING_NAMES, "Keyboard instance ID", "Keyboard description", "New to this machine"}},
    {EVENT_MONITORING_STARTED, EventLevel::Information, false, {"Version", "Devices present at start"}},
    {EVENT_MONITORING_STOPPED, EventLevel::Information, false, {"Reason"}},
    {EVENT_UNCLEAN_END, EventLevel::Warning, false,
     {"Previous run (its start in UTC)", "Last sequence number of that run"}},
    {EVENT_DEVICE_NOT_APPROVED, EventLevel::Warning, true, {PLUGTRAIL_DEVICE_STRING_NAMES}},
    {EVENT_APPROVED_LIST, EventLevel::Information, false, {"Entries", "List"}},
    {EVENT_LOG_UNWRITABLE, EventLevel::Error, false, {"Device log", "Error", "Error text"}},
    {EVENT_NOTIFICATIONS_FAILED, EventLevel::Error, false, {"Error", "Error text"}},
    {EVENT_SERVICE_ERROR, EventLevel::Error, false, {""}},
};

// The names every event ends with.
inline constexpr const char* kCommonStringNames[EVENT_COMMON_STRINGS] = {"Console user", "Sequence", "Run"};

// The row of an event; every ID has one.
constexpr const EventDescription& DescribeEvent(EventId id)
{
    for (const EventDescription& event : kEvents) {
        // cppcheck-suppress useStlAlgorithm ; std::find_if is constexpr only from C++20
        if (event.id == id) return event;
    }
    return kEvents[0];  // unreachable for an EventId: every one has its row
}

// How many strings of its own an event has.
constexpr size_t EventStringCount(EventId id)
{
    const EventDescription& event = DescribeEvent(id);
    size_t count = 0;
    while (count < EVENT_OWN_STRINGS_MAX && event.apszNames[count] != nullptr) ++count;
    return count;
}

constexpr size_t DEVICE_EVENT_STRINGS = EventStringCount(EVENT_DEVICE_ATTACHED);
constexpr size_t VOLUME_EVENT_STRINGS = EventStringCount(EVENT_VOLUME_MOUNTED);
constexpr size_t HISTORY_EVENT_STRINGS = EventStringCount(EVENT_DEVICE_KNOWN_BEFORE);
constexpr size_t KEYBOARD_EVENT_STRINGS = EventStringCount(EVENT_KEYBOARD_ATTACHED);
