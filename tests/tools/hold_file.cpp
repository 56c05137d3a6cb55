// Test tool: holds a file open without sharing, as a log shipper or an editor
// might, for a given time.
//   hold_file PATH MILLISECONDS READY_EVENT_NAME
// The named event is set once the file is held.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: hold_file PATH MILLISECONDS READY_EVENT_NAME\n");
        return 2;
    }
    HANDLE hFile = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold_file: cannot open %s: %lu\n", argv[1], GetLastError());
        return 1;
    }
    HANDLE hReady = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (hReady != nullptr) {
        SetEvent(hReady);
        CloseHandle(hReady);
    }
    Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    CloseHandle(hFile);
    return 0;
}
