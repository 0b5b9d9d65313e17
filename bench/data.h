// The benchmark's mail data and the replies it gets: 20 users with 15 letters of 900 bytes each.
// Shared by the data generator and the client (native) and by both reference servers (native and
// Win32), so that the references answer with the very frames Quorrel sends for the same data.
#pragma once

#include <cstddef>

#include "wire.h"

namespace bench {

constexpr int USERS = 20;
constexpr int LETTERS = 15;
constexpr std::size_t LETTER_SIZE = 900;    // the whole file, its status byte included

// "user01" ... "user20", passwords "pw01" ... "pw20".
void UserName(int index, char (&out)[16]);
void Password(int index, char (&out)[16]);

// A letter as stored by Quorrel: the status byte '0' (not read), then a short mail in CR LF lines,
// LETTER_SIZE bytes in all.  Every letter is the same, so a reply does not depend on the order in
// which a folder is enumerated.
void LetterText(unsigned char (&out)[LETTER_SIZE]);

// The positive replies of a session, as Quorrel builds them for this data.
struct Replies {
    unsigned char status[wire::STATUS_FRAME_SIZE];   // greeting, USER, PASS, QUIT
    unsigned char stat[wire::STAT_FRAME_SIZE];
    unsigned char list[wire::DATA_FRAME_SIZE];
    unsigned char retr[wire::DATA_FRAME_SIZE];       // every letter, with its status byte '0'
};
void BuildReplies(Replies& r);

}  // namespace bench
