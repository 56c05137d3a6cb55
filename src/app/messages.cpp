#include "app/app.h"

#include "util/text.h"

BYTE bDebugMode = 0;

namespace {

constexpr size_t USAGE_TEXT_SIZE = 1024;

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
