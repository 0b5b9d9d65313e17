// The activity log.
#include "log.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

const char kIniFile[] = ".\\Quorrel.ini";

struct LogSettings {
    bool enabled;
    char folder[MAX_PATH];
    unsigned keep_days;
    WORD swept_day, swept_month, swept_year;   // the day whose old files were last deleted
};
LogSettings s_log;

// Days since a fixed epoch, for comparing dates.
long long DayNumber(const SYSTEMTIME& t) {
    FILETIME ft;
    SYSTEMTIME day = t;
    day.wHour = day.wMinute = day.wSecond = day.wMilliseconds = 0;
    if (!SystemTimeToFileTime(&day, &ft)) return 0;
    unsigned long long v = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<long long>(v / (10000000ull * 86400ull));
}

// Deletes the log files whose date in the name is more than Keep days ago.
void DeleteOldFiles(const SYSTEMTIME& now) {
    s_log.swept_day = now.wDay;
    s_log.swept_month = now.wMonth;
    s_log.swept_year = now.wYear;
    char pattern[MAX_PATH];
    if (std::snprintf(pattern, sizeof pattern, "%s\\Quorrel-*.log", s_log.folder) >= static_cast<int>(sizeof pattern))
        return;
    WIN32_FIND_DATAA d;
    HANDLE find = FindFirstFileA(pattern, &d);
    if (find == INVALID_HANDLE_VALUE) return;
    long long today = DayNumber(now);
    do {
        SYSTEMTIME date = {};
        unsigned y = 0, m = 0, dd = 0;
        char tail[8] = "";
        if (std::sscanf(d.cFileName, "Quorrel-%4u-%2u-%2u%7s", &y, &m, &dd, tail) != 4 || std::strcmp(tail, ".log") != 0)
            continue;
        date.wYear = static_cast<WORD>(y);
        date.wMonth = static_cast<WORD>(m);
        date.wDay = static_cast<WORD>(dd);
        long long day = DayNumber(date);
        if (day == 0 || today - day <= static_cast<long long>(s_log.keep_days)) continue;
        char path[MAX_PATH];
        if (std::snprintf(path, sizeof path, "%s\\%s", s_log.folder, d.cFileName) < static_cast<int>(sizeof path))
            DeleteFileA(path);
    } while (FindNextFileA(find, &d));
    FindClose(find);
}

bool NeedsQuotes(const char* v) {
    if (!*v) return true;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(v); *p; ++p)
        if (*p <= ' ' || *p >= 0x7f || *p == '"' || *p == '\\') return true;
    return false;
}

}  // namespace

void ReadLogSettings(bool at_start) {
    s_log.enabled = GetPrivateProfileIntA("Log", "Enabled", 0, kIniFile) == 1;
    GetPrivateProfileStringA("Log", "Folder", "Logs", s_log.folder, sizeof s_log.folder, kIniFile);
    if (!s_log.folder[0]) std::strcpy(s_log.folder, "Logs");
    int keep = static_cast<int>(GetPrivateProfileIntA("Log", "Keep", 30, kIniFile));
    s_log.keep_days = keep > 0 ? static_cast<unsigned>(keep) : 30;
    if (!s_log.enabled) return;
    CreateDirectoryA(s_log.folder, nullptr);
    SYSTEMTIME now;
    GetLocalTime(&now);
    if (at_start) DeleteOldFiles(now);
    else s_log.swept_day = now.wDay, s_log.swept_month = now.wMonth, s_log.swept_year = now.wYear;
}

void LogNewDay() {
    if (!s_log.enabled) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    if (now.wDay != s_log.swept_day || now.wMonth != s_log.swept_month || now.wYear != s_log.swept_year)
        DeleteOldFiles(now);
}

LogLine::LogLine(const char* source, unsigned long address, const char* event) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char head[96];
    int n;
    if (address) {
        const unsigned char* a = reinterpret_cast<const unsigned char*>(&address);
        n = std::snprintf(head, sizeof head, "%04u-%02u-%02u %02u:%02u:%02u %s %u.%u.%u.%u %s", t.wYear, t.wMonth, t.wDay,
                          t.wHour, t.wMinute, t.wSecond, source, a[0], a[1], a[2], a[3], event);
    } else {
        n = std::snprintf(head, sizeof head, "%04u-%02u-%02u %02u:%02u:%02u %s - %s", t.wYear, t.wMonth, t.wDay, t.wHour,
                          t.wMinute, t.wSecond, source, event);
    }
    Put(head, n > 0 ? static_cast<std::size_t>(n) : 0);
}

void LogLine::Put(const char* bytes, std::size_t n) {
    // Two bytes stay for the line end; a line that would not fit is cut and marked.
    if (full_ || n > sizeof line_ - 2 - len_) {
        full_ = true;
        return;
    }
    std::memcpy(line_ + len_, bytes, n);
    len_ += n;
}

LogLine& LogLine::Text(const char* key, const char* value) {
    if (!s_log.enabled) return *this;
    PutChar(' ');
    Put(key, std::strlen(key));
    PutChar('=');
    if (!NeedsQuotes(value)) {
        Put(value, std::strlen(value));
        return *this;
    }
    wchar_t wide[512];
    char utf8[8];
    int wn = MultiByteToWideChar(CP_ACP, 0, value, -1, wide, 512);
    PutChar('"');
    for (int i = 0; i + 1 < wn; ++i) {
        wchar_t w = wide[i];
        if (w < 0x20 || w == 0x7f) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", static_cast<unsigned>(w));
            Put(esc, 4);
        } else if (w == L'"' || w == L'\\') {
            PutChar('\\');
            PutChar(static_cast<char>(w));
        } else {
            int u = WideCharToMultiByte(CP_UTF8, 0, &w, 1, utf8, sizeof utf8, nullptr, nullptr);
            Put(utf8, u > 0 ? static_cast<std::size_t>(u) : 0);
        }
    }
    PutChar('"');
    return *this;
}

LogLine& LogLine::Number(const char* key, std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    return Text(key, text);
}

void LogLine::Write() {
    if (!s_log.enabled) return;
    if (full_) {
        static const char kCut[] = " ...";
        len_ = len_ > sizeof line_ - 2 - (sizeof kCut - 1) ? sizeof line_ - 2 - (sizeof kCut - 1) : len_;
        std::memcpy(line_ + len_, kCut, sizeof kCut - 1);
        len_ += sizeof kCut - 1;
    }
    line_[len_++] = '\r';
    line_[len_++] = '\n';
    SYSTEMTIME t;
    GetLocalTime(&t);
    char path[MAX_PATH];
    if (std::snprintf(path, sizeof path, "%s\\Quorrel-%04u-%02u-%02u.log", s_log.folder, t.wYear, t.wMonth, t.wDay) >=
        static_cast<int>(sizeof path))
        return;
    // Appending only: every write goes to the end, whole, whatever else writes the file.
    HANDLE f = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD done = 0;
    WriteFile(f, line_, static_cast<DWORD>(len_), &done, nullptr);
    CloseHandle(f);
}

void ResetLog() { s_log = LogSettings{}; }
