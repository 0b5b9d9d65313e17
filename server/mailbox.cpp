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
using LetterSearch = LetterWalk;

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

}  // namespace

// Opens a letter for reading and writing, unshared.  Only a disk file is a letter: a pipe or a
// device that took a letter's name would block the first read until someone writes to it.
HANDLE OpenLetterFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

namespace {

// What the store knows of the letters of the mailboxes it loaded last: each letter's content as
// it was read, kept while the file's name, size and write time stay as they were, so that a
// letter is read from disk once while it is unchanged.  A mailbox holds what its last load took.
constexpr int KNOWN_MAILBOXES = 20;
struct KnownLetter {
    char name[MAX_PATH];         // "" when the slot holds nothing (a read that failed)
    std::uint64_t file_size;
    FILETIME written;
    std::uint32_t size;          // bytes of text
    char text[MAX_LETTER_BYTES];
};
struct KnownMailbox {
    char folder[MAX_PATH];       // "" when unused
    unsigned used;               // when it was last used, to give way to another mailbox
    int count;
    KnownLetter letters[MAX_LETTERS];
};
KnownMailbox s_known[KNOWN_MAILBOXES];
KnownLetter s_fresh[MAX_LETTERS];
unsigned s_uses;

// The mailbox's entry, or a fresh one in place of the least recently used.
KnownMailbox& Known(const char* folder) {
    KnownMailbox* oldest = &s_known[0];
    for (KnownMailbox& k : s_known) {
        if (k.folder[0] && std::strcmp(k.folder, folder) == 0) {
            k.used = ++s_uses;
            return k;
        }
        if (k.used < oldest->used) oldest = &k;
    }
    std::strcpy(oldest->folder, folder);
    oldest->count = 0;
    oldest->used = ++s_uses;
    return *oldest;
}

std::uint64_t FileSize(const WIN32_FIND_DATAW& d) {
    return (static_cast<std::uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

const KnownLetter* FindKnown(const KnownMailbox& k, const LetterSearch& s) {
    for (int i = 0; i < k.count; ++i) {
        const KnownLetter& l = k.letters[i];
        if (l.file_size == FileSize(s.data) && CompareFileTime(&l.written, &s.data.ftLastWriteTime) == 0 &&
            std::strcmp(l.name, s.name) == 0)
            return &l;
    }
    return nullptr;
}

// Forgets what is known of a letter file that the server itself changed.
void ForgetKnown(const char* path) {
    const char* slash = std::strrchr(path, '\\');
    if (!slash) return;
    std::size_t n = static_cast<std::size_t>(slash - path);
    for (KnownMailbox& k : s_known) {
        if (std::strlen(k.folder) != n || std::strncmp(k.folder, path, n) != 0) continue;
        for (int i = 0; i < k.count; ++i)
            if (std::strcmp(k.letters[i].name, slash + 1) == 0) k.letters[i].name[0] = '\0';
    }
}

// Reads one letter file into `into` the way a load does; false when the file can't be opened.
// A failed read leaves an empty text, which is not kept as known.
bool ReadLetter(const char* path, KnownLetter& into, bool beep) {
    HANDLE file = OpenLetterFile(path);
    if (file == INVALID_HANDLE_VALUE) {
        if (beep) SoundBeep(MB_OK);
        return false;
    }
    DWORD got = 0;
    if (!ReadData(file, into.text, MAX_LETTER_BYTES, &got)) {
        if (beep) SoundBeep(MB_OK);
        got = 0;
        into.name[0] = '\0';
    }
    CloseHandle(file);
    into.size = got;
    return true;
}

void TakeLetter(const char* path, const KnownLetter& k, LetterRecord& rec) {
    std::memcpy(rec.text, k.text, k.size);
    std::memset(rec.text + k.size, 0, sizeof rec.text - k.size);
    std::strcpy(rec.path, path);
    rec.size = k.size;
    rec.file_size = k.file_size;
    rec.written = k.written;
    rec.is_read = k.size > 0 && static_cast<unsigned char>(k.text[0]) == 'R';
    rec.is_deleted = 0;
}

// Walks the mailbox as a load does, up to MAX_LETTERS letters: each letter is taken from what is
// known of it, or read; `table`, when given, gets the records.  Returns the number of letters and
// adds their sizes to *total.  Only a real load beeps at its troubles.
int FillLetters(const char* folder, LetterRecord* table, std::uint64_t* total, bool beep) {
    LetterSearch s;
    if (!FirstLetter(folder, s)) {
        EndSearch(s);
        if (beep) SoundBeep(MB_OK);
        return 0;
    }
    KnownMailbox& known = Known(folder);
    int k = 0;
    do {
        char path[MAX_PATH];
        if (!BuildPath(folder, s.name, path)) {
            if (beep) SoundBeep(MB_OK);
            continue;
        }
        KnownLetter& fresh = s_fresh[k];
        if (const KnownLetter* seen = FindKnown(known, s)) {
            if (seen != &fresh) fresh = *seen;
        } else {
            std::strcpy(fresh.name, s.name);
            fresh.file_size = FileSize(s.data);
            fresh.written = s.data.ftLastWriteTime;
            if (!ReadLetter(path, fresh, beep)) continue;
        }
        if (table) TakeLetter(path, fresh, table[k]);
        *total += fresh.size;
        ++k;
    } while (k < MAX_LETTERS && NextLetter(s));
    EndSearch(s);
    std::memcpy(known.letters, s_fresh, sizeof(KnownLetter) * static_cast<std::size_t>(k));
    known.count = k;
    return k;
}

// Puts `mark` in front of the letter's content: the mark and the content go into a copy beside
// the letter, which replaces it only once it is whole, so a failure on the way (a full disk)
// leaves the letter as it was.  The copy is a file the system names and makes anew (never one
// that was there: a link of that name would have its target written), its name does not match
// *.msg, and it keeps the letter's write time.
void InsertStatusByte(const char* path, char mark, std::uint64_t size, const FILETIME& written) {
    char folder[MAX_PATH], copy[MAX_PATH];
    const char* slash = std::strrchr(path, '\\');
    if (!slash) return;
    std::size_t n = static_cast<std::size_t>(slash - path);
    std::memcpy(folder, path, n);
    folder[n] = '\0';
    HANDLE from = OpenLetterFile(path);
    if (from == INVALID_HANDLE_VALUE) return;
    if (!SameLetterFile(from, size, written) || !GetTempFileNameA(folder, "new", 0, copy)) {
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
    if (to != INVALID_HANDLE_VALUE) {
        ok = ok && SetFileTime(to, nullptr, nullptr, &written);
        CloseHandle(to);
    }
    if (!ok || !ReplaceWith(copy, path)) DeleteFileA(copy);
}

// Deletes the letter through a handle that holds it, so that what is deleted is the file that
// was checked; false when it is still there.
bool DeleteLetterFile(const char* path, std::uint64_t size, const FILETIME& written) {
    HANDLE file = CreateFileA(path, GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;   // gone already
    FILE_DISPOSITION_INFO gone = {TRUE};
    bool ok = GetFileType(file) == FILE_TYPE_DISK && SameLetterFile(file, size, written) &&
              SetFileInformationByHandle(file, FileDispositionInfo, &gone, sizeof gone);
    CloseHandle(file);
    return ok;
}

void CommitLetter(const LetterRecord& rec, CommitCounts& counts) {
    char status = rec.size > 0 && (rec.text[0] == 'R' || rec.text[0] == '0') ? rec.text[0] : 0;
    bool done = CommitLetterFile(rec.path, rec.is_deleted != 0, rec.is_read != 0, status, rec.file_size, rec.written);
    if (rec.is_deleted) ++(done ? counts.deleted : counts.failed);
    else if (rec.is_read && status != 'R') ++counts.read;
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
        do total += FileSize(s.data);
        while (NextLetter(s));
    }
    EndSearch(s);
    return total;
}

void MeasureMailbox(const char* folder, int* count, std::uint64_t* size) {
    // Walked as a load walks it, so the figures are exactly what LIST would show.
    *size = 0;
    *count = FillLetters(folder, nullptr, size, false);
}

void LoadLetters(const char* folder) {
    std::uint64_t total = 0;
    g_letters.count = FillLetters(folder, g_letters.letters, &total, true);
    // Records behind the loaded ones must not carry another conversation's letters.
    for (int i = g_letters.count; i < MAX_LETTERS; ++i) g_letters.letters[i] = LetterRecord{};
}

CommitCounts CommitMailbox() {
    // The records loaded in this conversation, each by its own path: the folder is not searched
    // again, so a file that came or went since the load is never taken for another.
    CommitCounts counts = {};
    for (int i = 0; i < g_letters.count && i < MAX_LETTERS; ++i) CommitLetter(g_letters.letters[i], counts);
    return counts;
}

bool SameLetterFile(HANDLE file, std::uint64_t size, const FILETIME& written) {
    LARGE_INTEGER now_size;
    FILETIME now_written;
    return GetFileSizeEx(file, &now_size) && static_cast<std::uint64_t>(now_size.QuadPart) == size &&
           GetFileTime(file, nullptr, nullptr, &now_written) && CompareFileTime(&now_written, &written) == 0;
}

bool CommitLetterFile(const char* path, bool deleted, bool read, char status, std::uint64_t size,
                      const FILETIME& written) {
    if (deleted) {
        ForgetKnown(path);
        return DeleteLetterFile(path, size, written);
    }
    char mark = read ? 'R' : '0';
    if (status == mark) return true;
    ForgetKnown(path);
    HANDLE file = OpenLetterFile(path);
    if (file == INVALID_HANDLE_VALUE) return true;
    if (!SameLetterFile(file, size, written)) {
        CloseHandle(file);
        return true;
    }
    unsigned char first = 0;
    DWORD got = 0;
    bool has_status = true;   // unreadable: left alone
    if (ReadFile(file, &first, 1, &got, nullptr)) {
        DWORD done = 0;
        has_status = got == 1 && (first == 'R' || first == '0');
        // The write time stays: it is the letter's date for the mail clients.
        if (has_status && first != static_cast<unsigned char>(mark) &&
            SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
            WriteFile(file, &mark, 1, &done, nullptr))
            SetFileTime(file, nullptr, nullptr, &written);
    }
    CloseHandle(file);
    if (!has_status) InsertStatusByte(path, mark, size, written);
    return true;
}

namespace {

void TakeFile(const LetterWalk& walk, LetterFile& file) {
    std::strcpy(file.name, walk.name);
    file.size = FileSize(walk.data);
    file.written = walk.data.ftLastWriteTime;
}

char s_open[MAX_SESSIONS + 1][MAX_PATH];   // by owner: the folder it has open, "" for none

}  // namespace

bool FirstLetterFile(const char* folder, LetterWalk& walk, LetterFile& file) {
    if (!FirstLetter(folder, walk)) return false;
    TakeFile(walk, file);
    return true;
}

bool NextLetterFile(LetterWalk& walk, LetterFile& file) {
    if (!NextLetter(walk)) return false;
    TakeFile(walk, file);
    return true;
}

void EndLetterWalk(LetterWalk& walk) { EndSearch(walk); }

bool OpenMailbox(const char* folder, int owner) {
    if (owner < 0 || owner > MAX_SESSIONS) return false;
    for (int i = 0; i <= MAX_SESSIONS; ++i)
        if (i != owner && s_open[i][0] && lstrcmpiA(s_open[i], folder) == 0) return false;
    std::strcpy(s_open[owner], folder);
    return true;
}

void CloseMailbox(int owner) {
    if (owner >= 0 && owner <= MAX_SESSIONS) s_open[owner][0] = '\0';
}

void ResetMailbox() {
    for (auto& folder : s_open) folder[0] = '\0';
    g_letters = LetterTable{};
    for (KnownMailbox& k : s_known) k = KnownMailbox{};
    s_uses = 0;
}
