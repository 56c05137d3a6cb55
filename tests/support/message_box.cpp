#include "support/message_box.h"

#include <cstring>

namespace {

constexpr int BOX_TEXT_ID = 0xFFFF;
constexpr int BOX_ICON_ID = 1088;
constexpr DWORD SCAN_PERIOD_MS = 20;
// A box is painted shortly after it becomes visible; its icon is read from
// the screen, so a look before the first paint is repeated for this long.
constexpr DWORD ICON_READ_PATIENCE_MS = 2000;

struct FindContext {
    const std::vector<HWND>* ignore;
    HWND found;
};

BOOL CALLBACK FindBoxProc(HWND hwnd, LPARAM lParam)
{
    auto* ctx = reinterpret_cast<FindContext*>(lParam);
    char cls[16];
    if (GetClassNameA(hwnd, cls, sizeof cls) == 0 || std::strcmp(cls, "#32770") != 0) return TRUE;
    if (!IsWindowVisible(hwnd) || GetDlgItem(hwnd, BOX_TEXT_ID) == nullptr) return TRUE;
    for (HWND h : *ctx->ignore)
        if (h == hwnd) return TRUE;
    ctx->found = hwnd;
    return FALSE;
}

std::string WindowText(HWND hwnd)
{
    std::vector<char> buffer(8192, '\0');
    const int n = GetWindowTextA(hwnd, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), n > 0 ? n : 0);
}

// 32-bit top-down pixels of a w x h area.
struct Pixels {
    int w = 0;
    int h = 0;
    std::vector<DWORD> px;
};

HBITMAP MakeDib(HDC hdc, int w, int h, DWORD** ppBits)
{
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = w;
    bmi.bmiHeader.biHeight = -h;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* pv = nullptr;
    HBITMAP hbm = CreateDIBSection(hdc, &bmi, DIB_RGB_COLORS, &pv, nullptr, 0);
    *ppBits = static_cast<DWORD*>(pv);
    return hbm;
}

// Copies an area of the screen, or draws an icon on a plain background.
bool Capture(int w, int h, const POINT* pScreenOrigin, HICON hIcon, COLORREF background, Pixels* pOut)
{
    HDC hdcScreen = GetDC(nullptr);
    if (hdcScreen == nullptr) return false;
    HDC hdcMem = CreateCompatibleDC(hdcScreen);
    DWORD* pBits = nullptr;
    HBITMAP hbm = hdcMem ? MakeDib(hdcScreen, w, h, &pBits) : nullptr;
    bool ok = false;
    if (hbm != nullptr) {
        HGDIOBJ old = SelectObject(hdcMem, hbm);
        if (pScreenOrigin != nullptr) {
            ok = BitBlt(hdcMem, 0, 0, w, h, hdcScreen, pScreenOrigin->x, pScreenOrigin->y, SRCCOPY) != 0;
        } else {
            HBRUSH hbr = CreateSolidBrush(background);
            RECT rc = {0, 0, w, h};
            FillRect(hdcMem, &rc, hbr);
            DeleteObject(hbr);
            ok = DrawIconEx(hdcMem, 0, 0, hIcon, w, h, 0, nullptr, DI_NORMAL) != 0;
        }
        GdiFlush();
        if (ok) {
            pOut->w = w;
            pOut->h = h;
            pOut->px.assign(pBits, pBits + static_cast<size_t>(w) * h);
            for (DWORD& p : pOut->px) p &= 0x00FFFFFF;
        }
        SelectObject(hdcMem, old);
        DeleteObject(hbm);
    }
    if (hdcMem != nullptr) DeleteDC(hdcMem);
    ReleaseDC(nullptr, hdcScreen);
    return ok;
}

// True when the screen shows hIcon: every pixel the icon covers (the same on
// two different backgrounds) matches, and the icon covers a fair share.
bool ScreenShowsIcon(const Pixels& screen, HICON hIcon)
{
    Pixels onRed, onGreen;
    if (!Capture(screen.w, screen.h, nullptr, hIcon, RGB(255, 0, 0), &onRed) ||
        !Capture(screen.w, screen.h, nullptr, hIcon, RGB(0, 255, 0), &onGreen))
        return false;
    size_t covered = 0, mismatched = 0;
    for (size_t i = 0; i < screen.px.size(); ++i) {
        if (onRed.px[i] != onGreen.px[i]) continue;  // transparent there
        ++covered;
        if (onRed.px[i] != screen.px[i]) ++mismatched;
    }
    return covered > screen.px.size() / 8 && mismatched * 50 <= covered;
}

struct Candidate {
    BoxIcon icon;
    LPCSTR id;
};
const Candidate kCandidates[] = {
    {BoxIcon::Information, IDI_INFORMATION},
    {BoxIcon::Warning, IDI_WARNING},
    {BoxIcon::Error, IDI_ERROR},
    {BoxIcon::Question, IDI_QUESTION},
};

// Within one process the system icons are shared handles, so the handle the
// icon control holds tells the icon at once. Another process's handles mean
// nothing here; then the icon is told from what the screen shows.
BoxIcon IdentifyIcon(HWND hwndIcon)
{
    const HICON hShown = reinterpret_cast<HICON>(SendMessageA(hwndIcon, STM_GETICON, 0, 0));
    for (const Candidate& c : kCandidates)
        if (hShown != nullptr && hShown == LoadIconA(nullptr, c.id)) return c.icon;

    RECT rc;
    if (!GetClientRect(hwndIcon, &rc) || rc.right <= 0 || rc.bottom <= 0) return BoxIcon::Unknown;
    POINT origin = {0, 0};
    ClientToScreen(hwndIcon, &origin);
    const DWORD dwStart = GetTickCount();
    do {
        Pixels screen;
        if (Capture(rc.right, rc.bottom, &origin, nullptr, 0, &screen)) {
            for (const Candidate& c : kCandidates)
                if (ScreenShowsIcon(screen, LoadIconA(nullptr, c.id))) return c.icon;
        }
        Sleep(SCAN_PERIOD_MS);
    } while (GetTickCount() - dwStart < ICON_READ_PATIENCE_MS);
    return BoxIcon::Unknown;
}

}  // namespace

const char* BoxIconName(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::None: return "none";
    case BoxIcon::Information: return "information";
    case BoxIcon::Warning: return "warning";
    case BoxIcon::Error: return "error";
    case BoxIcon::Question: return "question";
    case BoxIcon::Unknown: return "unknown";
    }
    return "?";
}

HWND FindMessageBox(const std::vector<HWND>& ignore)
{
    FindContext ctx = {&ignore, nullptr};
    EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&ctx));
    return ctx.found;
}

bool ReadMessageBox(HWND hwndBox, SeenMessageBox* pSeen)
{
    HWND hwndText = GetDlgItem(hwndBox, BOX_TEXT_ID);
    if (hwndText == nullptr) return false;
    pSeen->text = WindowText(hwndText);
    pSeen->caption = WindowText(hwndBox);
    GetWindowThreadProcessId(hwndBox, &pSeen->processId);
    HWND hwndIcon = GetDlgItem(hwndBox, BOX_ICON_ID);
    pSeen->icon = hwndIcon != nullptr && IsWindowVisible(hwndIcon) ? IdentifyIcon(hwndIcon) : BoxIcon::None;
    return true;
}

void AnswerMessageBox(HWND hwndBox)
{
    PostMessageA(hwndBox, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

MessageBoxWatcher::MessageBoxWatcher(DWORD processId) : m_processId(processId)
{
    InitializeCriticalSection(&m_lock);
    m_hStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
}

MessageBoxWatcher::~MessageBoxWatcher()
{
    Stop();
    CloseHandle(m_hStop);
    DeleteCriticalSection(&m_lock);
}

DWORD WINAPI MessageBoxWatcher::ThreadProc(LPVOID pThis)
{
    auto* self = static_cast<MessageBoxWatcher*>(pThis);
    do {
        self->Scan();
    } while (WaitForSingleObject(self->m_hStop, SCAN_PERIOD_MS) == WAIT_TIMEOUT);
    self->Scan();
    return 0;
}

void MessageBoxWatcher::Scan()
{
    // Answered boxes may linger a moment; forget the ones that are gone so a
    // recycled handle counts as a new box.
    std::vector<HWND> live;
    for (HWND h : m_answered)
        if (IsWindow(h) && IsWindowVisible(h)) live.push_back(h);
    m_answered.swap(live);

    std::vector<HWND> skip = m_answered;
    while (HWND hwnd = FindMessageBox(skip)) {
        skip.push_back(hwnd);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (m_processId != 0 && pid != m_processId) continue;
        SeenMessageBox seen;
        if (!ReadMessageBox(hwnd, &seen)) continue;
        AnswerMessageBox(hwnd);
        m_answered.push_back(hwnd);
        EnterCriticalSection(&m_lock);
        m_seen.push_back(seen);
        LeaveCriticalSection(&m_lock);
    }
}

bool MessageBoxWatcher::WaitForBoxes(size_t count, DWORD dwMs)
{
    const DWORD dwStart = GetTickCount();
    for (;;) {
        EnterCriticalSection(&m_lock);
        const size_t n = m_seen.size();
        LeaveCriticalSection(&m_lock);
        if (n >= count) return true;
        if (GetTickCount() - dwStart >= dwMs) return false;
        Sleep(SCAN_PERIOD_MS);
    }
}

std::vector<SeenMessageBox> MessageBoxWatcher::Boxes() const
{
    EnterCriticalSection(&m_lock);
    std::vector<SeenMessageBox> copy = m_seen;
    LeaveCriticalSection(&m_lock);
    return copy;
}

std::vector<SeenMessageBox> MessageBoxWatcher::Stop()
{
    if (m_hThread != nullptr) {
        SetEvent(m_hStop);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    return Boxes();
}
