#include "app/app.h"

#include "util/text.h"

BYTE bDebugMode = 0;

namespace {

constexpr size_t USAGE_TEXT_SIZE = 1024;
constexpr size_t LOG_PROBLEM_TEXT_SIZE = 512;

}  // namespace

int ShowMessage(const char* pszText, UINT uStyle)
{
    return MessageBoxA(nullptr, pszText, PROGRAM_NAME, uStyle);
}

void ShowUsage()
{
    char szUsage[USAGE_TEXT_SIZE];
    CopyText(szUsage, "Plugtrail -Install  \t  installs it as Win32 service and starts the service "
                      "(Admin previleges required)\n");
    AppendText(szUsage, "Plugtrail -Uninstall\t  uninstalls the service\n");
    AppendText(szUsage, "Plugtrail -Debug    \t  starts it as normal program (Admin previleges required)");
    ShowMessage(szUsage, MB_ICONERROR);
}

void ShowDeviceLogProblem(DeviceLogState state, DWORD dwError)
{
    char szText[LOG_PROBLEM_TEXT_SIZE];
    switch (state) {
    case DeviceLogState::Writable:
        return;
    case DeviceLogState::Folder:
        FormatText(szText, "No device can be logged: a folder has taken the name of the device log %s. "
                           "Remove the folder and start Plugtrail again.", DEVICE_LOG_PATH);
        break;
    case DeviceLogState::AccessDenied:
        FormatText(szText, "No device can be logged: access to the device log %s is denied. "
                           "Run Plugtrail -Debug as an administrator.", DEVICE_LOG_PATH);
        break;
    case DeviceLogState::Unwritable:
        FormatText(szText, "No device can be logged: the device log %s cannot be written (error %lu).",
                   DEVICE_LOG_PATH, dwError);
        break;
    }
    ShowMessage(szText, MB_ICONERROR);
}
