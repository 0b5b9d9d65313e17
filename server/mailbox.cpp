// The mailbox store: counting, measuring, loading and committing the letter files of a mailbox.
#include "mailbox.h"

#include <cstring>

#include "fileio.h"
#include "server.h"
#include "userrecord.h"

LetterTable g_letters;

namespace {

// A letter is served as at most this many bytes: what a RETR data frame carries after "+Ok",
// its NUL and the space.
constexpr DWORD MAX_LETTER_BYTES = 994;

// Joins the mailbox folder, a backslash and `file` into out; false when there is no folder or
// the path does not fit.
bool BuildPath(const char* folder, const char* file, char (&out)[MAX_PATH]) {
    if (!folder) return false;
    size_t n = std::strlen(folder);
    size_t f = std::strlen(file);
    if (n + 1 + f + 1 > sizeof out) return false;
    std::memcpy(out, folder, n);
    out[n] = '\\';
    std::memcpy(out + n + 1, file, f + 1);
    return true;
}

// The directory search over the user's letter files.  It runs on the wide names: the ANSI search
// hands back names that do not exist, mapped "best fit" to the code page (a fullwidth solidus
// becomes '/', a fullwidth digit a digit), and through short names "*.msg" also matches
// "x.msgx".  `name` is the file's real name in the code page.
struct LetterSearch {
    HANDLE find;
    WIN32_FIND_DATAW data;
    char name[MAX_PATH];
};

bool HasMsgExtension(const wchar_t* name) {
    size_t n = wcslen(name);
    if (n < 4) return false;
    const wchar_t* e = name + n - 4;
    return e[0] == L'.' && (e[1] | 0x20) == L'm' && (e[2] | 0x20) == L's' && (e[3] | 0x20) == L'g';
}

// A letter is a file, not a folder or a link, whose real name ends in ".msg", converts to the code
// page and back unchanged and is a plain file name (no path, no stream, no device).
bool TakeLetterName(LetterSearch& s) {
    const WIN32_FIND_DATAW& d = s.data;
    if (d.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
        return false;
    if (!HasMsgExtension(d.cFileName)) return false;
    BOOL lossy = FALSE;
    if (!WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, d.cFileName, -1, s.name, sizeof s.name, nullptr, &lossy) ||
        lossy)
        return false;
    wchar_t back[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, s.name, -1, back, MAX_PATH) ||
        wcscmp(back, d.cFileName) != 0)
        return false;
    return IsPlainFileName(s.name);
}

bool NextLetter(LetterSearch& s) {
    while (FindNextFileW(s.find, &s.data))
        if (TakeLetterName(s)) return true;
    return false;
}

bool FirstLetter(const char* folder, LetterSearch& s) {
    char pattern[MAX_PATH];
    wchar_t wide[MAX_PATH];
    s.find = INVALID_HANDLE_VALUE;
    if (!BuildPath(folder, "*.msg", pattern)) return false;
    if (!MultiByteToWideChar(CP_ACP, 0, pattern, -1, wide, MAX_PATH)) return false;
    s.find = FindFirstFileW(wide, &s.data);
    if (s.find == INVALID_HANDLE_VALUE) return false;
    return TakeLetterName(s) || NextLetter(s);
}

void EndSearch(LetterSearch& s) {
    if (s.find != INVALID_HANDLE_VALUE) FindClose(s.find);
    s.find = INVALID_HANDLE_VALUE;
}

// Opens a letter for reading and writing, unshared.  Only a disk file is a letter: a pipe or a
// device that took a letter's name would block the first read until someone writes to it.
HANDLE OpenLetter(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// Reads one letter file into rec the way a load does; false when the file can't be opened.
bool ReadLetter(const char* path, LetterRecord& rec, bool beep) {
    HANDLE file = OpenLetter(path);
    if (file == INVALID_HANDLE_VALUE) {
        if (beep) SoundBeep(MB_OK);
        return false;
    }
    DWORD got = 0;
    if (!ReadData(file, rec.text, MAX_LETTER_BYTES, &got)) {
        if (beep) SoundBeep(MB_OK);
        got = 0;
    }
    CloseHandle(file);
    std::memset(rec.text + got, 0, sizeof rec.text - got);
    std::strcpy(rec.path, path);
    rec.size = got;
    rec.is_read = got > 0 && static_cast<unsigned char>(rec.text[0]) == 'R';
    rec.is_deleted = 0;
    return true;
}

// Fills table (up to MAX_LETTERS records) as a load does; returns the number filled.  Only a
// real load beeps at its troubles.
int FillLetters(const char* folder, LetterRecord* table, bool beep) {
    LetterSearch s;
    if (!FirstLetter(folder, s)) {
        EndSearch(s);
        if (beep) SoundBeep(MB_OK);
        return 0;
    }
    int k = 0;
    do {
        char path[MAX_PATH];
        if (!BuildPath(folder, s.name, path)) {
            if (beep) SoundBeep(MB_OK);
            continue;
        }
        if (ReadLetter(path, table[k], beep)) ++k;
    } while (k < MAX_LETTERS && NextLetter(s));
    EndSearch(s);
    return k;
}

// Puts `mark` in front of the letter's content: the mark and the content go into a copy beside
// the letter, which replaces it only once it is whole, so a failure on the way (a full disk)
// leaves the letter as it was.  The copy is a file the system names and makes anew (never one
// that was there: a link of that name would have its target written), and its name does not
// match *.msg.
void InsertStatusByte(const char* path, char mark) {
    char folder[MAX_PATH], copy[MAX_PATH];
    const char* slash = std::strrchr(path, '\\');
    if (!slash) return;
    std::size_t n = static_cast<std::size_t>(slash - path);
    std::memcpy(folder, path, n);
    folder[n] = '\0';
    HANDLE from = OpenLetter(path);
    if (from == INVALID_HANDLE_VALUE) return;
    if (!GetTempFileNameA(folder, "new", 0, copy)) {
        CloseHandle(from);
        return;
    }
    HANDLE to = CreateFileA(copy, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = to != INVALID_HANDLE_VALUE && WriteWhole(to, &mark, 1);
    char chunk[4096];
    for (DWORD got = 0; ok; ) {
        ok = ReadFile(from, chunk, sizeof chunk, &got, nullptr) != FALSE;
        if (!ok || got == 0) break;
        ok = WriteWhole(to, chunk, got);
    }
    CloseHandle(from);
    if (to != INVALID_HANDLE_VALUE) CloseHandle(to);
    if (!ok || !ReplaceWith(copy, path)) DeleteFileA(copy);
}

void CommitLetter(const LetterRecord& rec) {
    if (rec.is_deleted) {
        DeleteFileA(rec.path);
        return;
    }
    char mark = rec.is_read ? 'R' : '0';
    HANDLE file = OpenLetter(rec.path);
    if (file == INVALID_HANDLE_VALUE) return;
    unsigned char first = 0;
    DWORD got = 0;
    bool has_status = false;
    if (ReadFile(file, &first, 1, &got, nullptr)) {
        DWORD done = 0;
        has_status = got == 1 && (first == 'R' || first == '0');
        if (has_status && SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER)
            WriteFile(file, &mark, 1, &done, nullptr);
    } else {
        has_status = true;   // unreadable: leave it alone
    }
    CloseHandle(file);
    if (!has_status) InsertStatusByte(rec.path, mark);
}

}  // namespace

int CountLetters(const char* folder) {
    LetterSearch s;
    int n = 0;
    if (FirstLetter(folder, s)) {
        do ++n;
        while (NextLetter(s));
    }
    EndSearch(s);
    return n;
}

std::uint64_t MailboxSize(const char* folder) {
    LetterSearch s;
    std::uint64_t total = 0;
    if (FirstLetter(folder, s)) {
        do total += (static_cast<std::uint64_t>(s.data.nFileSizeHigh) << 32) | s.data.nFileSizeLow;
        while (NextLetter(s));
    }
    EndSearch(s);
    return total;
}

void MeasureMailbox(const char* folder, int* count, std::uint64_t* size) {
    // A trial load into a table of its own, so the figures are exactly what LIST would show.
    static LetterRecord trial[MAX_LETTERS];
    int n = FillLetters(folder, trial, false);
    std::uint64_t total = 0;
    for (int i = 0; i < n; ++i) total += trial[i].size;
    *count = n;
    *size = total;
}

void LoadLetters(const char* folder) {
    g_letters.count = FillLetters(folder, g_letters.letters, true);
    // Records behind the loaded ones must not carry another conversation's letters.
    for (int i = g_letters.count; i < MAX_LETTERS; ++i) g_letters.letters[i] = LetterRecord{};
}

void CommitMailbox() {
    // The records loaded in this conversation, each by its own path: the folder is not searched
    // again, so a file that came or went since the load is never taken for another.
    for (int i = 0; i < g_letters.count && i < MAX_LETTERS; ++i) CommitLetter(g_letters.letters[i]);
}

void ResetMailbox() { g_letters = LetterTable{}; }
