// Reading and answering message boxes that this or another process shows on
// the test's desktop.
//
// Typical use: watch while the code under test runs, then look at what came
// up. Every box is read, then answered with OK, so a modal call never blocks
// the test.
//
//     MessageBoxWatcher watcher;               // starts watching at once
//     BOOL ok = theService.Install(TRUE);      // shows boxes, returns
//     std::vector<SeenMessageBox> boxes = watcher.Stop();
//     ASSERT_EQ(1u, boxes.size());
//     EXPECT_EQ("Service installed and started", boxes[0].text);
//     EXPECT_EQ(BoxIcon::Information, boxes[0].icon);
//
// For a box shown by a child process, keep the watcher alive until the child
// has ended (ChildProcess::Wait), then Stop.
//
// Boxes shown by a service that the service control manager started are on
// the service's own desktop and are not seen.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The system icon a box shows, as MB_ICON* chose it.
enum class BoxIcon {
    None,         // no icon control
    Information,  // MB_ICONINFORMATION
    Warning,      // MB_ICONWARNING
    Error,        // MB_ICONERROR
    Question,     // MB_ICONQUESTION
    Unknown,      // an icon that matches none of the above
};

const char* BoxIconName(BoxIcon icon);

struct SeenMessageBox {
    std::string text;     // the message, tabs and line ends as shown
    std::string caption;  // the title bar text
    BoxIcon icon = BoxIcon::None;
    DWORD processId = 0;  // the process that showed the box
};

// The first visible message box (dialog class "#32770") on this desktop
// whose text control exists, or null. Boxes in `ignore` are passed over.
HWND FindMessageBox(const std::vector<HWND>& ignore = {});

// Reads text, caption and icon of a box. False when it is no message box.
bool ReadMessageBox(HWND hwndBox, SeenMessageBox* pSeen);

// Closes a box the way its OK button does.
void AnswerMessageBox(HWND hwndBox);

// Watches the desktop on a thread of its own from construction until Stop:
// reads each box that appears, answers it with OK and keeps what it read, in
// the order the boxes appeared.
class MessageBoxWatcher {
public:
    // processId 0 takes boxes from any process, otherwise only from that one.
    explicit MessageBoxWatcher(DWORD processId = 0);
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    // Waits until at least `count` boxes were seen or dwMs passed; true when
    // they were.
    bool WaitForBoxes(size_t count, DWORD dwMs);
    // The boxes seen so far.
    std::vector<SeenMessageBox> Boxes() const;
    // Takes a last look, stops watching and returns every box seen.
    std::vector<SeenMessageBox> Stop();

private:
    static DWORD WINAPI ThreadProc(LPVOID pThis);
    void Scan();

    DWORD m_processId;
    HANDLE m_hStop;
    HANDLE m_hThread;
    mutable CRITICAL_SECTION m_lock;
    std::vector<SeenMessageBox> m_seen;
    std::vector<HWND> m_answered;
};
