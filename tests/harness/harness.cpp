#include "harness.h"

#include "version.h"

#include <cstdio>
#include <cstring>

#include "frames.h"

namespace harness {

Modals* Modals::current_ = nullptr;

namespace {
const int kMsgBoxTextId = 0xFFFF;   // the static that holds a message box's text
}

Modals::Modals(std::function<int()> beep_count, DWORD watchdog_ms) : beep_count_(std::move(beep_count)) {
    current_ = this;
    hook_ = SetWindowsHookExA(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
    timer_ = SetTimer(nullptr, 0, watchdog_ms, Watchdog);
}

Modals::~Modals() {
    if (timer_) KillTimer(nullptr, timer_);
    if (hook_) UnhookWindowsHookEx(hook_);
    current_ = nullptr;
}

LRESULT CALLBACK Modals::CbtProc(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_ACTIVATE && current_ && ClassName(reinterpret_cast<HWND>(wp)) == "#32770")
        current_->Handle(reinterpret_cast<HWND>(wp));
    return CallNextHookEx(nullptr, code, wp, lp);
}

void CALLBACK Modals::Watchdog(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (!current_) return;
    current_->timer_ = 0;
    current_->timed_out = true;
    EnumThreadWindows(GetCurrentThreadId(), [](HWND h, LPARAM) -> BOOL {
        if (ClassName(h) == "#32770") EndDialog(h, IDCANCEL);
        return TRUE;
    }, 0);
}

void Modals::Handle(HWND h) {
    // Under Wine the hook fires again for the same window (and once for a caption-less one after
    // a box closes): act once per window.
    if (done_.count(h)) return;
    done_.insert(h);
    if (IsMessageBox(h)) {
        Box box{Text(h), Text(GetDlgItem(h, kMsgBoxTextId)), BoxIcon(h), GetWindow(h, GW_OWNER),
                beep_count_ ? beep_count_() : 0};
        boxes.push_back(box);
        int button = IDOK;
        if (!answers_.empty()) { button = answers_.front(); answers_.erase(answers_.begin()); }
        PostMessageA(h, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(h, button)));
        if (on_box) on_box(box, box.owner);
        return;
    }
    if (Text(h).empty()) return;   // the caption-less activation Wine adds; not a dialog of ours
    dialogs.push_back(Text(h));
    if (actions_.empty()) {
        unexpected.push_back(Text(h));
        PressButton(h, IDCANCEL);
        return;
    }
    auto action = std::move(actions_.front());
    actions_.erase(actions_.begin());
    int button = action(h);
    if (button) PressButton(h, button);
}

void PressButton(HWND dlg, int id) {
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

bool IsMessageBox(HWND h) { return ClassName(h) == "#32770" && GetDlgItem(h, kMsgBoxTextId) != nullptr; }

UINT BoxIcon(HWND box) {
    struct Find { HICON icon; } f = {nullptr};
    EnumChildWindows(box, [](HWND c, LPARAM l) -> BOOL {
        if (ClassName(c) == "Static" && (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            reinterpret_cast<Find*>(l)->icon = reinterpret_cast<HICON>(SendMessageA(c, STM_GETICON, 0, 0));
            return FALSE;
        }
        return TRUE;
    }, reinterpret_cast<LPARAM>(&f));
    if (!f.icon) return 0;
    struct Known { LPCSTR id; UINT style; };
    const Known known[] = {{IDI_HAND, MB_ICONERROR}, {IDI_EXCLAMATION, MB_ICONWARNING},
                           {IDI_ASTERISK, MB_ICONINFORMATION}, {IDI_QUESTION, MB_ICONQUESTION}};
    for (const Known& k : known)
        if (LoadIconA(nullptr, k.id) == f.icon) return k.style;
    return 0xFFFFFFFF;   // an icon, but none of the system's
}

std::string Text(HWND h) {
    char b[4096] = "";
    GetWindowTextA(h, b, sizeof b);
    return b;
}

RECT RectInParent(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string ItemText(HWND dlg, int id) { return Text(GetDlgItem(dlg, id)); }

std::string ClassName(HWND h) {
    char b[64] = "";
    GetClassNameA(h, b, sizeof b);
    return b;
}

int ListCount(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

std::string ListCell(HWND list, int row, int col) {
    char buf[512];
    std::memset(buf, 0xcc, sizeof buf);
    buf[sizeof buf - 1] = 0;
    LVITEMA it = {};
    it.iSubItem = col;
    it.pszText = buf;
    it.cchTextMax = sizeof buf;
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&it));
    return buf;
}

int ListSelected(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void SelectRow(HWND list, int row) {
    LVITEMA it = {};
    it.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    it.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&it));
}

int ListColumnCount(HWND list) {
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    return static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
}

namespace {
LVCOLUMNA GetColumn(HWND list, int col, char* buf, int cap) {
    LVCOLUMNA c = {};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    c.pszText = buf;
    c.cchTextMax = cap;
    buf[0] = 0;
    SendMessageA(list, LVM_GETCOLUMNA, col, reinterpret_cast<LPARAM>(&c));
    return c;
}
}  // namespace

std::string ListColumnCaption(HWND list, int col) {
    char b[256];
    GetColumn(list, col, b, sizeof b);
    return b;
}

int ListColumnWidth(HWND list, int col) {
    char b[256];
    return GetColumn(list, col, b, sizeof b).cx;
}

int ListColumnFormat(HWND list, int col) {
    char b[256];
    return GetColumn(list, col, b, sizeof b).fmt & LVCFMT_JUSTIFYMASK;
}

bool MenuEnabled(HWND window, int id) {
    UINT state = GetMenuState(GetMenu(window), id, MF_BYCOMMAND);
    return state != 0xFFFFFFFF && !(state & (MF_GRAYED | MF_DISABLED));
}

void ExpectChild(HWND h, const ChildSpec& c) {
    SCOPED_TRACE(c.text);
    ASSERT_NE(nullptr, h) << c.id;
    EXPECT_EQ(c.id, GetDlgCtrlID(h));
    EXPECT_EQ(c.cls, ClassName(h));
    EXPECT_EQ(c.text, Text(h));
    RECT r = RectInParent(h);
    EXPECT_EQ(c.x, r.left);
    EXPECT_EQ(c.y, r.top);
    EXPECT_EQ(c.w, r.right - r.left);
    EXPECT_EQ(c.h, r.bottom - r.top);
}

void ExpectBox(const Box& b, const char* text, const char* caption, UINT icon, HWND owner) {
    EXPECT_EQ(text, b.text);
    EXPECT_EQ(caption, b.caption) << text;
    EXPECT_EQ(icon, b.icon) << text;
    EXPECT_EQ(owner, b.owner) << text;
}

const ControlKind kPushButton = {"Button", BS_PUSHBUTTON | BS_CENTER | WS_TABSTOP, BS_TYPEMASK | BS_CENTER};
const ControlKind kEdit = {"Edit", WS_TABSTOP, ES_PASSWORD | ES_AUTOHSCROLL};
const ControlKind kPasswordEdit = {"Edit", ES_PASSWORD | WS_TABSTOP, ES_PASSWORD | ES_AUTOHSCROLL};
const ControlKind kLeftText = {"Static", SS_LEFT, SS_TYPEMASK};
const ControlKind kCentredText = {"Static", SS_CENTER, SS_TYPEMASK};
const ControlKind kEtchedFrame = {"Static", SS_ETCHEDFRAME, SS_TYPEMASK};
const ControlKind kEtchedLine = {"Static", SS_ETCHEDHORZ, SS_TYPEMASK};
const ControlKind kSortedDropList = {"ComboBox", CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP, 3 | CBS_SORT};

void ExpectTemplate(HWND dlg, const DialogTemplate& t) {
    SCOPED_TRACE(t.caption);
    EXPECT_EQ(t.caption, Text(dlg));
    RECT want = {0, 0, t.cx, t.cy}, got;
    MapDialogRect(dlg, &want);
    GetClientRect(dlg, &got);
    EXPECT_TRUE(EqualRect(&want, &got)) << "size in dialog units";
    const LONG frame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_3DLOOK | DS_CONTEXTHELP;
    EXPECT_EQ(frame, GetWindowLongA(dlg, GWL_STYLE) & frame);
    const LONG ex = WS_EX_DLGMODALFRAME | WS_EX_CONTEXTHELP;
    EXPECT_EQ(ex, GetWindowLongA(dlg, GWL_EXSTYLE) & ex);

    std::vector<int> ids, stops, order, tabs;
    for (const DialogItem& c : t.items) {
        ids.push_back(c.id);
        if (c.kind.style & WS_TABSTOP) stops.push_back(c.id);
        SCOPED_TRACE(c.id);
        HWND h = GetDlgItem(dlg, c.id);
        if (!h) { ADD_FAILURE() << "missing"; continue; }
        const std::string cls = c.kind.cls;
        EXPECT_EQ(cls, ClassName(h));
        EXPECT_EQ(c.text, Text(h));
        LONG st = GetWindowLongA(h, GWL_STYLE);
        EXPECT_EQ(c.kind.style, st & (c.kind.mask | WS_TABSTOP)) << "style " << std::hex << st;
        // The edit control trades WS_BORDER for a client edge when it is made.
        EXPECT_TRUE(cls != "Edit" || (st & WS_BORDER) || (GetWindowLongA(h, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
        // The dialog manager maps the position and the size each on its own.
        RECT r = {c.x, c.y, c.w, c.h};
        MapDialogRect(dlg, &r);
        RECT g = RectInParent(h);
        EXPECT_EQ(r.left, g.left);
        EXPECT_EQ(r.top, g.top);
        // The system draws an etched line a little wider than its template asks.
        LONG w = g.right - g.left;
        if (c.kind.style == SS_ETCHEDHORZ && w > r.right && w <= r.right + 2) w = r.right;
        EXPECT_EQ(r.right, w);
        // A drop-down list is as tall as its field; the template's height is the open list's.
        EXPECT_EQ(r.bottom, cls == "ComboBox" ? r.bottom : g.bottom - g.top);
    }
    for (HWND h = GetWindow(dlg, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) order.push_back(GetDlgCtrlID(h));
    EXPECT_EQ(ids, order) << "controls in template order";
    HWND first = GetNextDlgTabItem(dlg, nullptr, FALSE);
    for (HWND h = first; h && tabs.size() <= ids.size();) {
        tabs.push_back(GetDlgCtrlID(h));
        h = GetNextDlgTabItem(dlg, h, FALSE);
        if (h == first) break;
    }
    EXPECT_EQ(stops, tabs) << "tab stops in template order";
}

void AppTest::SetUp() {
    static bool registered = false;
    if (!registered) registered = register_class_(GetModuleHandleA(nullptr));
    ASSERT_TRUE(registered);
    ASSERT_EQ(1251u, GetACP()) << "the tests need Wine's ANSI code page 1251 (LANG=ru_RU.UTF-8)";
    WSADATA wsa;
    winsock_started_ = WSAStartup(0x0101, &wsa) == 0;
    ASSERT_TRUE(winsock_started_);
    const int* beeps = beeps_;
    modals.reset(new Modals([beeps] { return *beeps; }));
}

void AppTest::TearDown() {
    if (wnd && IsWindow(wnd)) DestroyWindow(wnd);   // the shutdown ends the program's WinSock
    Pump(0);
    MSG m;
    while (PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {}
    if (winsock_started_) WSACleanup();
    if (!modals) return;
    EXPECT_TRUE(modals->unexpected.empty()) << "an unexpected dialog: " << modals->unexpected.front();
    EXPECT_FALSE(modals->timed_out) << "a dialog or box was still open at the watchdog";
    modals.reset();
}

HWND AppTest::OpenWindow() {
    WSADATA wsa;
    EXPECT_EQ(0, WSAStartup(0x0101, &wsa));
    wnd = create_(GetModuleHandleA(nullptr));
    EXPECT_NE(nullptr, wnd);
    return wnd;
}

void AppTest::Command(int id) { SendMessageA(wnd, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

void AppTest::ExpectMainWindow(const char* title) {
    EXPECT_EQ("Application", ClassName(wnd));
    EXPECT_EQ(title, Text(wnd));
    RECT r;
    GetWindowRect(wnd, &r);
    EXPECT_EQ(640, r.right - r.left);
    EXPECT_EQ(480, r.bottom - r.top);
    EXPECT_EQ(static_cast<LONG>(WS_OVERLAPPEDWINDOW), GetWindowLongA(wnd, GWL_STYLE) & WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(nullptr, GetParent(wnd));
    WNDCLASSEXA wc = {sizeof wc};
    ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), "Application", &wc));
    EXPECT_EQ(static_cast<UINT>(CS_HREDRAW | CS_VREDRAW), wc.style);
    EXPECT_EQ(reinterpret_cast<HBRUSH>(COLOR_SCROLLBAR + 1), wc.hbrBackground);
    EXPECT_NE(nullptr, wc.hIcon);
    EXPECT_EQ(0, wc.cbClsExtra);
    EXPECT_EQ(0, wc.cbWndExtra);
}

void AppTest::ExpectDialog(int command, const DialogTemplate& t, int button) {
    modals->OnDialog([&](HWND dlg) {
        ExpectTemplate(dlg, t);
        return button;
    });
    Command(command);
    EXPECT_EQ(0, modals->PendingActions()) << t.caption << " did not open";
}

void Pump(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

bool PumpUntil(const std::function<bool()>& done, DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        if (done()) return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed < 20 ? ms - elapsed : 20, QS_ALLINPUT);
    }
}

TempDir::TempDir() {
    GetCurrentDirectoryA(sizeof previous_, previous_);
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    static unsigned counter = 0;
    for (;;) {
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%sqtest-%lu-%u", base, GetCurrentProcessId(), ++counter);
        if (CreateDirectoryA(name, nullptr)) { path_ = name; break; }
    }
    SetCurrentDirectoryA(path_.c_str());
}

TempDir::~TempDir() {
    SetCurrentDirectoryA(previous_);
    RemoveTree(path_);
}

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = path + "\\" + name;
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(full);
            else DeleteFileA(full.c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    BOOL ok = bytes.empty() || WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    CloseHandle(f);
    return ok && put == bytes.size();
}

std::string ReadBytes(const std::string& path) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return "";
    std::string out;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got) out.append(buf, got);
    CloseHandle(f);
    return out;
}

bool FileExists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {

// The whole version resource of this executable; empty when it has none.
std::vector<char> OwnVersionResource() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(path, &ignored);
    std::vector<char> data(size);
    if (!size || !GetFileVersionInfoA(path, 0, size, data.data())) data.clear();
    return data;
}

}  // namespace

std::string FixedVersions() {
    std::vector<char> data = OwnVersionResource();
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    if (data.empty() || !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &len) ||
        len < sizeof *fixed)
        return "";
    char out[96];
    std::snprintf(out, sizeof out, "file %lu.%lu.%lu.%lu product %lu.%lu.%lu.%lu",
                  fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xffff, fixed->dwFileVersionLS >> 16,
                  fixed->dwFileVersionLS & 0xffff, fixed->dwProductVersionMS >> 16,
                  fixed->dwProductVersionMS & 0xffff, fixed->dwProductVersionLS >> 16,
                  fixed->dwProductVersionLS & 0xffff);
    return out;
}

std::string VersionTranslation() {
    std::vector<char> data = OwnVersionResource();
    WORD* pair = nullptr;
    UINT len = 0;
    if (data.empty() || !VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pair), &len) ||
        len < 4)
        return "";
    char out[16];
    std::snprintf(out, sizeof out, "%04x %u", pair[0], pair[1]);
    return out;
}

std::string VersionText(const char* translation, const char* name) {
    std::vector<char> data = OwnVersionResource();
    std::string key = std::string("\\StringFileInfo\\") + translation + "\\" + name;
    char* text = nullptr;
    UINT len = 0;
    if (data.empty() || !VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&text), &len) || !text)
        return "";
    return text;
}

std::string Hex(const std::string& bytes) {
    return frames::Hex(bytes);
}

void ExpectVersionInfo(const char* description, const char* product, const char* file_name) {
    EXPECT_EQ("file " QUORREL_VERSION_TEXT ".0 product " QUORREL_VERSION_TEXT ".0", FixedVersions());
    EXPECT_EQ("0419 1251", VersionTranslation());
    EXPECT_EQ(QUORREL_VERSION_TEXT, VersionText("041904E3", "FileVersion"));
    EXPECT_EQ(QUORREL_VERSION_TEXT, VersionText("041904E3", "ProductVersion"));
    EXPECT_EQ(description, VersionText("041904E3", "FileDescription"));
    EXPECT_EQ(product, VersionText("041904E3", "ProductName"));
    EXPECT_EQ(file_name, VersionText("041904E3", "OriginalFilename"));
}

}  // namespace harness
