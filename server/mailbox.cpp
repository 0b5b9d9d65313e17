// The mailbox store.
#include "mailbox.h"

#include "server.h"

LetterTable g_letters;

int CountLetters(int) { return 0; }
std::uint64_t MailboxSize(int) { return 0; }
void MeasureMailbox(int, int* count, std::uint64_t* size) { *count = 0; *size = 0; }
void LoadLetters(int) {}
void CommitMailbox(int) {}

void ResetMailbox() { g_letters = LetterTable{}; }
