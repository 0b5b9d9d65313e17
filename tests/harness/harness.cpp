#include "harness.h"

#include <cstdio>
#include <cstring>

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
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02x ", c);
        out += b;
    }
    return out;
}

}  // namespace harness
