// The mailbox store.
#include "mailbox.h"

#include "server.h"

int CountLetters(int) { return 0; }
std::uint64_t MailboxSize(int) { return 0; }
void LoadLetters(int) {}
void CommitMailbox(int) {}

void ResetMailbox() {}
