// The mailbox store: one folder per user with one *.msg file per letter.
#pragma once

#include <cstdint>

constexpr int MAX_LETTERS = 15;
constexpr int LETTER_PATH_SIZE = 260;     // room for a 19-character name, a backslash and a file name
constexpr int LETTER_TEXT_SIZE = 1000;

struct LetterRecord {
    std::int32_t is_read;
    std::int32_t is_deleted;
    char path[LETTER_PATH_SIZE];
    char text[LETTER_TEXT_SIZE];
};

int CountLetters(int user);
std::uint64_t MailboxSize(int user);
void LoadLetters(int user);
void CommitMailbox(int user);

void ResetMailbox();
