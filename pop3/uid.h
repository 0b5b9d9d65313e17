// UIDL values from letter file names.
//
// A letter's file name is its identity in the mailbox: it stays while the letter stays, and no
// two letters of a folder share it.  So the UIDL value is the name itself, made safe:
//  - bytes A-Z a-z 0-9 '-' '_' go as they are, and '.' where it sits between two other characters
//    and not right after another '.';
//  - every other byte (Cyrillic, spaces, '~', '=' ...) is '=' and two capital hex digits.
// That is reversible, so distinct names give distinct values; case is kept, not folded: a folder
// on a case-sensitive disk (under Wine) may hold "A.msg" beside "a.msg".  The value is also a
// valid left part of a Message-ID (a dot-atom), which the renderer makes from it.
//
// When that text would pass 70 characters (RFC 1939's limit), the value is its first 37
// characters (never cutting an "=XX"), a '~' and 32 hex digits of a 128-bit hash of the name's
// bytes.  '~' never appears in the plain form, so the two forms cannot meet; two long names
// meet only when both hashes agree.  The hash is fixed forever: changing it would make every
// mail client fetch every letter again.
#pragma once

#include <cstddef>

namespace pop3 {

constexpr std::size_t MAX_UID_LEN = 70;

// The UIDL value of a file name (the name only, NUL-terminated Windows-1251 bytes).  Returns its
// length (1 to 70); an empty or null name gives 0 and "".
std::size_t MakeUid(const char* name, char (&out)[MAX_UID_LEN + 1]);

}  // namespace pop3
