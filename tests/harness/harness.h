// Helpers for the in-process window tests: answering dialogs and message boxes, reading controls,
// a private working folder per test, and bounded message pumping.
#pragma once

#include <winsock.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace harness {

// A message box as it was shown.
struct Box {
    std::string caption;
    std::string text;
    UINT icon;          // MB_ICONERROR, MB_ICONWARNING, MB_ICONINFORMATION, MB_ICONQUESTION or 0
    HWND owner;         // null for a box without owner
    int beeps;          // the program's beep count when the box came up
};

// While it lives, answers every dialog and message box that this thread opens, through a WH_CBT
// hook that acts once per window on its first activation.
//  - A message box is recorded in `boxes` and answered with the button queued by AnswerBox (IDOK
//    when nothing is queued); then `on_box` runs, if set, with the box and the box's owner.
//  - A dialog runs the next action queued by OnDialog: the action fills the fields and returns
//    the id of the button to press (0: press nothing, the action did it).  A dialog with no action
//    queued is recorded in `unexpected` and cancelled.
//  - A watchdog (a thread timer, which also fires inside modal loops) ends every dialog still
//    open after `watchdog_ms` and sets `timed_out`, so a forgotten box never hangs a test.
class Modals {
public:
    explicit Modals(std::function<int()> beep_count = nullptr, DWORD watchdog_ms = 15000);
    ~Modals();
    Modals(const Modals&) = delete;
    Modals& operator=(const Modals&) = delete;

    void OnDialog(std::function<int(HWND)> action) { actions_.push_back(std::move(action)); }
    void AnswerBox(int button) { answers_.push_back(button); }
    int PendingActions() const { return static_cast<int>(actions_.size()); }

    std::vector<Box> boxes;
    std::vector<std::string> dialogs;      // captions of the dialogs acted on, in order
    std::vector<std::string> unexpected;   // captions of dialogs nobody expected
    std::function<void(const Box&, HWND owner)> on_box;
    bool timed_out = false;

private:
    static LRESULT CALLBACK CbtProc(int code, WPARAM wp, LPARAM lp);
    static void CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD);
    void Handle(HWND h);

    HHOOK hook_ = nullptr;
    UINT_PTR timer_ = 0;
    std::function<int()> beep_count_;
    std::vector<std::function<int(HWND)>> actions_;
    std::vector<int> answers_;
    std::set<HWND> done_;
    static Modals* current_;
};

// Presses a dialog's button the way a click does (posted, so a modal loop runs it).
void PressButton(HWND dlg, int id);

// The icon of a message box, as its MB_ICON* style.
UINT BoxIcon(HWND box);
bool IsMessageBox(HWND h);

std::string Text(HWND h);
// A child control's rectangle in its parent's client pixels.
RECT RectInParent(HWND child);
std::string ItemText(HWND dlg, int id);
std::string ClassName(HWND h);

int ListCount(HWND list);
// Reads a cell into a buffer filled with 0xcc first, so a cell never written shows.
std::string ListCell(HWND list, int row, int col);
int ListSelected(HWND list);
void SelectRow(HWND list, int row);
int ListColumnCount(HWND list);
std::string ListColumnCaption(HWND list, int col);
int ListColumnWidth(HWND list, int col);
int ListColumnFormat(HWND list, int col);

// True when a menu item of the window's menu can be chosen (neither greyed nor disabled).
bool MenuEnabled(HWND window, int id);

// A child control of a main window: its id, class, text and rectangle in client pixels.
struct ChildSpec { int id; const char* cls; const char* text; int x, y, w, h; };
void ExpectChild(HWND h, const ChildSpec& c);

// Checks a message box as it was shown.
void ExpectBox(const Box& b, const char* text, const char* caption, UINT icon, HWND owner);

// ---- Dialogs against their templates ----

// A control as a template statement makes it: the class, and the style bits it must have under
// `mask`; WS_TABSTOP is always compared, and the tab stops are the controls whose kind has it.
struct ControlKind { const char* cls; LONG style; LONG mask; };
extern const ControlKind kPushButton;      // BS_PUSHBUTTON | BS_CENTER | WS_TABSTOP
extern const ControlKind kEdit;            // a bordered tab stop that neither scrolls nor masks
extern const ControlKind kPasswordEdit;    // the same, masked
extern const ControlKind kLeftText, kCentredText, kEtchedFrame, kEtchedLine;
extern const ControlKind kSortedDropList;  // CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP

// One control of a template; the rectangle in dialog units, as the .rc gives it.
struct DialogItem { int id; ControlKind kind; const char* text; int x, y, w, h; };
// A template: caption, size in dialog units, the controls in template order.
struct DialogTemplate { const char* caption; int cx, cy; std::vector<DialogItem> items; };

// Checks an open dialog against its template: caption, client size, the modal frame with a help
// button that every dialog of both programs has; each control's class, text, style and rectangle
// (mapped with MapDialogRect); the controls in template order and the tab stops in that order.
void ExpectTemplate(HWND dlg, const DialogTemplate& t);

// Dispatches messages for about `ms` milliseconds.
void Pump(DWORD ms);
// Dispatches messages until done() or `ms` milliseconds; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD ms);

// The frame of the in-process tests of either program, made from the program's class
// registration, its window creation and its beep count: WinSock started for the test, a Modals
// that answers and records every dialog and box, and at the end the window destroyed, its quit
// message taken, and a failure for any dialog nobody expected or still open at the watchdog.
class AppTest : public ::testing::Test {
protected:
    AppTest(bool (*register_class)(HINSTANCE), HWND (*create)(HINSTANCE), const int* beeps)
        : register_class_(register_class), create_(create), beeps_(beeps) {}
    void SetUp() override;
    void TearDown() override;

    // Creates the main window after the program's own start of WinSock, as WinMain makes it; the
    // shutdown ends that one.
    HWND OpenWindow();
    // Sends a command as a click or a menu choice would; returns once it has run, dialogs and
    // boxes included.
    void Command(int id);
    // Runs a command whose dialog is checked against `t` and then closed with `button`.
    void ExpectDialog(int command, const DialogTemplate& t, int button = IDCANCEL);
    // Checks the main window as both programs make it: the class "Application" (no extra bytes,
    // redrawn on resize, the scroll-bar colour behind, an icon), the title, 640 x 480, overlapped
    // and without parent.
    void ExpectMainWindow(const char* title);

    std::unique_ptr<Modals> modals;
    HWND wnd = nullptr;

private:
    bool (*register_class_)(HINSTANCE);
    HWND (*create_)(HINSTANCE);
    const int* beeps_;
    bool winsock_started_ = false;
};

// A fresh empty folder that is the current directory while the object lives; removed with all
// its content afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    char previous_[MAX_PATH];
};

bool WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);   // "" when missing
bool FileExists(const std::string& path);
bool DirExists(const std::string& path);
void RemoveTree(const std::string& path);

// The version resource of this test program, which carries the program's own resources:
// "file F product P" from its fixed part (each as a.b.c.d), the language and code page of its
// first translation ("0419 1251"), and a text of its string table ("" when missing).
std::string FixedVersions();
std::string VersionTranslation();
std::string VersionText(const char* translation, const char* name);
// The version resource of this program: the project's version (the file VERSION) as file and
// product version, Russian in Windows-1251, and these texts.
void ExpectVersionInfo(const char* description, const char* product, const char* file_name);

// Hex dump of bytes, for readable failure messages.
std::string Hex(const std::string& bytes);

}  // namespace harness
