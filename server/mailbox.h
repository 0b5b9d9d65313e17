// The mailbox store: one folder per user, named after the user, with one *.msg file per letter.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr int MAX_LETTERS = 15;
constexpr int LETTER_TEXT_SIZE = 1000;

struct LetterRecord {
    std::int32_t is_read;
    std::int32_t is_deleted;
    char path[MAX_PATH];          // the user's name, a backslash, the file name
    char text[LETTER_TEXT_SIZE];  // the file's content (status byte first), then a NUL
    std::uint32_t size;           // bytes of text that RETR sends and LIST reports (at most 994)
    std::uint64_t file_size;      // the file as it was loaded: only that file is committed
    FILETIME written;
};

// The letters of the last load.  Records 0 to count - 1 are the letters served; letter n of the
// conversation is record n - 1.
struct LetterTable {
    LetterRecord letters[MAX_LETTERS];
    int count;
};
extern LetterTable g_letters;

// The store works on a mailbox folder, named relative to the server's folder; a null folder is
// a user without a mailbox, which holds no letter.

// Letter files in the mailbox (0 when there is none or the folder is missing).
int CountLetters(const char* folder);
// Their total size in bytes.
std::uint64_t MailboxSize(const char* folder);
// What a load would serve now: the number of letters and their sizes added up, as LIST and RETR
// would report them.
void MeasureMailbox(const char* folder, int* count, std::uint64_t* size);
// Fills the letter table from the mailbox.
void LoadLetters(const char* folder);
// Writes the conversation's marks back, each loaded letter by its own path: deletes the letters
// marked deleted and writes every other loaded letter's status byte.  Says what it did: letters
// deleted, marked read (that were not), and deletions that failed.
struct CommitCounts {
    unsigned deleted, read, failed;
};
CommitCounts CommitMailbox();

// A mailbox is open to one conversation at a time, in either protocol.  Conversations are
// numbered by their owner: 0 the dialect's, 1 to MAX_SESSIONS the standard listener's.
constexpr int MAX_SESSIONS = 24;
// Opens the folder to `owner`; false when another owner has it open.  An owner holds one at most.
bool OpenMailbox(const char* folder, int owner);
void CloseMailbox(int owner);

// The letter files of a folder one by one, for a conversation that serves them all: the same
// files and names that a load takes.
struct LetterFile {
    char name[MAX_PATH];          // the real name, in the code page
    std::uint64_t size;
    FILETIME written;
};
struct LetterWalk {
    HANDLE find;
    WIN32_FIND_DATAW data;
    char name[MAX_PATH];
};
bool FirstLetterFile(const char* folder, LetterWalk& walk, LetterFile& file);
bool NextLetterFile(LetterWalk& walk, LetterFile& file);
void EndLetterWalk(LetterWalk& walk);
// Opens a letter file for reading and writing, unshared; only a disk file opens.
HANDLE OpenLetterFile(const char* path);
// Writes a letter's marks back, when the file is still the one that was served (`size` and
// `written` as they were then): deletes it, or gives it the status byte of `read` where the byte
// it has (`status`: 'R', '0', or 0 when not known) differs, keeping its write time; a letter
// without one gets it in front.  A letter that changed stays as it is.  False when a letter to be
// deleted is still there.
bool CommitLetterFile(const char* path, bool deleted, bool read, char status, std::uint64_t size,
                      const FILETIME& written);
// The size and write time of an open letter file are `size` and `written`.
bool SameLetterFile(HANDLE file, std::uint64_t size, const FILETIME& written);

void ResetMailbox();
