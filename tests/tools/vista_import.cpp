// Imports a function that Windows XP's kernel32 lacks, so that the import
// check can be seen to refuse it.
#include <windows.h>

extern "C" __declspec(dllimport) ULONGLONG WINAPI GetTickCount64();

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return static_cast<int>(GetTickCount64() & 1);
}
