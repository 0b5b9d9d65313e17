// Letters as a mail client receives them: the exact bytes of RETR and TOP, the same bytes however
// the file is cut into chunks and however little room each call gets, and LIST's count equal to
// what RETR sends.
#include <gtest/gtest.h>

#include <string>

#include "message.h"

using namespace pop3;

namespace {

const long long kTime = 1700000000;        // Tue, 14 Nov 2023 22:13:20 +0000
const LetterMeta kMeta = {kTime, "001.msg", "mail.local", "office.local"};

// The headers a letter without its own gets, around the given Subject lines.
std::string Synth(const std::string& subject) {
    return "Date: Tue, 14 Nov 2023 22:13:20 +0000\r\n"
           "From: =?windows-1251?B?z+7r7ubl7e4g4iD/+ejqIPHl8OLl8O7s?=\r\n <postmaster@office.local>\r\n" + subject +
           "Message-ID: <001.msg@mail.local>\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=windows-1251\r\n"
           "Content-Transfer-Encoding: 8bit\r\n"
           "\r\n";
}

// Renders a file fed `step` bytes at a time into `room` bytes of output per call.  Checks on the
// way that no call writes past its room and that the renderer's count is what it wrote.
std::string Render(const std::string& file, long long top = -1, std::size_t step = 4096,
                   std::size_t room = 4096, const LetterMeta& meta = kMeta) {
    static Renderer r;                     // ~5 KB: kept off the stack like the server does
    Begin(r, meta, top);
    std::string got;
    std::string out(room + 16, '\xcc');
    const unsigned char* in = reinterpret_cast<const unsigned char*>(file.data());
    for (std::size_t at = 0; at < file.size();) {
        std::size_t n = file.size() - at < step ? file.size() - at : step;
        while (n) {
            std::size_t used = 0;
            std::size_t wrote = Feed(r, in + at, n, &used, reinterpret_cast<unsigned char*>(&out[0]), room);
            EXPECT_LE(wrote, room);
            EXPECT_EQ(std::string(16, '\xcc'), out.substr(room)) << "wrote past its room";
            got.append(out, 0, wrote);
            at += used;
            n -= used;
            if (used == 0 && wrote == 0) { ADD_FAILURE() << "no progress"; return got; }
        }
    }
    for (int calls = 0; !Finished(r); ++calls) {
        std::size_t wrote = Finish(r, reinterpret_cast<unsigned char*>(&out[0]), room);
        EXPECT_LE(wrote, room);
        got.append(out, 0, wrote);
        if (calls > 100000) { ADD_FAILURE() << "Finish never finishes"; break; }
    }
    EXPECT_EQ(got.size(), Octets(r));
    return got;
}

unsigned long long Count(const std::string& file, long long top = -1, std::size_t step = 4096) {
    static Renderer r;
    Begin(r, kMeta, top);
    const unsigned char* in = reinterpret_cast<const unsigned char*>(file.data());
    for (std::size_t at = 0; at < file.size();) {
        std::size_t n = file.size() - at < step ? file.size() - at : step, used = 0;
        Feed(r, in + at, n, &used, nullptr, 0);
        EXPECT_EQ(n, used);
        at += n;
    }
    while (!Finished(r)) Finish(r, nullptr, 0);
    return Octets(r);
}

struct Case { const char* label; std::string file; long long top; std::string want; };

const Case kCases[] = {
    {"plain letter", "0Hello\nworld\n", -1, Synth("Subject: Hello\r\n") + "Hello\r\nworld\r\n"},
    {"read mark, CRLF, no last line end", "RHello\r\nworld", -1, Synth("Subject: Hello\r\n") + "Hello\r\nworld\r\n"},
    {"bare CR, CRLF and LF mixed", "0a\rb\r\n\nc", -1, Synth("Subject: a\r\n") + "a\r\nb\r\n\r\nc\r\n"},
    {"CR CR LF is two line ends", "0a\r\r\nb\n", -1, Synth("Subject: a\r\n") + "a\r\n\r\nb\r\n"},
    {"LF CR is two line ends", "0a\n\rb", -1, Synth("Subject: a\r\n") + "a\r\n\r\nb\r\n"},
    {"dot lines are stuffed", "0.hidden\n..two\nmid.dle\n.\n.", -1,
     Synth("Subject: .hidden\r\n") + "..hidden\r\n...two\r\nmid.dle\r\n..\r\n..\r\n"},
    {"no status byte", "Hello", -1, Synth("Subject: Hello\r\n") + "Hello\r\n"},
    {"empty file", "", -1, Synth("")},
    {"only the status byte", "0", -1, Synth("")},
    {"only a read mark", "R", -1, Synth("")},
    {"only blank lines", "0\n \t\n", -1, Synth("") + "\r\n \t\r\n"},
    {"subject from the first non-blank line, trimmed", "0\n  \n  Hi there \t\nbody", -1,
     Synth("Subject: Hi there\r\n") + "\r\n  \r\n  Hi there \t\r\nbody\r\n"},
    {"Cyrillic subject encoded", "0Привет\nтекст", -1,
     Synth("Subject: =?windows-1251?B?z/Do4uXy?=\r\n") + "Привет\r\nтекст\r\n"},
    {"Cyrillic with a colon is no header", "RОтчёт за май: готов\n", -1,
     Synth("Subject: =?windows-1251?B?zvL3uPIg5+Ag7ODpOiDj7vLu4g==?=\r\n") + "Отчёт за май: готов\r\n"},
    {"an encoded-word look-alike is encoded", "0=?x?= hi\n", -1,
     Synth("Subject: =?windows-1251?B?PT94Pz0gaGk=?=\r\n") + "=?x?= hi\r\n"},
    {"a tab in the subject is encoded", "0a\tb\n", -1, Synth("Subject: =?windows-1251?B?YQli?=\r\n") + "a\tb\r\n"},
    {"stored headers served as stored", "0From: a@b\r\nSubject: hi\n\nbody\n.x", -1,
     "From: a@b\r\nSubject: hi\r\n\r\nbody\r\n..x\r\n"},
    {"stored headers with a folded field", "RReceived: from x\n\tby y\nDATE: Mon, 1 Jan 2024 00:00:00 +0000\n\nb\n", -1,
     "Received: from x\r\n\tby y\r\nDATE: Mon, 1 Jan 2024 00:00:00 +0000\r\n\r\nb\r\n"},
    {"stored headers only, no body", "0Subject: x", -1, "Subject: x\r\n"},
    {"a note in header form is a note", "0Re: Friday\n\nSee you", -1,
     Synth("Subject: Re: Friday\r\n") + "Re: Friday\r\n\r\nSee you\r\n"},
    {"a known field over plain text is a note", "0Subject: hi\nplain text\n", -1,
     Synth("Subject: Subject: hi\r\n") + "Subject: hi\r\nplain text\r\n"},
    {"a blank first line is no header block", "0\nFrom: a@b\n\nx", -1,
     Synth("Subject: From: a@b\r\n") + "\r\nFrom: a@b\r\n\r\nx\r\n"},
    {"a field name with a space is no field", "0From x: y\n\nz", -1,
     Synth("Subject: From x: y\r\n") + "From x: y\r\n\r\nz\r\n"},
    // TOP n m: headers, the empty line, m lines of the body.
    {"TOP 0 of a plain letter", "0a\nb\nc\n", 0, Synth("Subject: a\r\n")},
    {"TOP 2 of a plain letter", "0a\nb\nc\n", 2, Synth("Subject: a\r\n") + "a\r\nb\r\n"},
    {"TOP 2 counts empty lines", "0a\n\nc\n", 2, Synth("Subject: a\r\n") + "a\r\n\r\n"},
    {"TOP beyond the end is the letter", "0a\nb", 9, Synth("Subject: a\r\n") + "a\r\nb\r\n"},
    {"TOP 0 of stored headers", "0From: a\nTo: b\n\nl1\nl2\n", 0, "From: a\r\nTo: b\r\n\r\n"},
    {"TOP 1 of stored headers", "0From: a\nTo: b\n\nl1\nl2\n", 1, "From: a\r\nTo: b\r\n\r\nl1\r\n"},
    {"TOP 5 of stored headers", "0From: a\r\n\r\n.l1", 5, "From: a\r\n\r\n..l1\r\n"},
    {"TOP 0 of an empty letter", "R", 0, Synth("")},
};

}  // namespace

TEST(Render, ExactBytesOfEveryForm) {
    for (const Case& c : kCases) {
        EXPECT_EQ(c.want, Render(c.file, c.top)) << c.label;
        EXPECT_EQ(c.want.size(), Count(c.file, c.top)) << c.label;
    }
}

TEST(Render, AnyChunkingAndRoomGiveTheSameBytes) {
    for (const Case& c : kCases)
        for (std::size_t step : {1, 7, 4096})
            for (std::size_t room : {1, 2, 5, 4096}) {
                EXPECT_EQ(c.want, Render(c.file, c.top, step, room)) << c.label << " step " << step << " room " << room;
                EXPECT_EQ(c.want.size(), Count(c.file, c.top, step)) << c.label << " step " << step;
            }
}

TEST(FormatDate, Rfc5322InUtc) {
    struct DateCase { long long t; const char* want; };
    const DateCase cases[] = {
        {0, "Thu, 01 Jan 1970 00:00:00 +0000"},
        {-5, "Thu, 01 Jan 1970 00:00:00 +0000"},
        {kTime, "Tue, 14 Nov 2023 22:13:20 +0000"},
        {951782400, "Tue, 29 Feb 2000 00:00:00 +0000"},
        {4107542399, "Sun, 28 Feb 2100 23:59:59 +0000"},
        {253402300799ll, "Fri, 31 Dec 9999 23:59:59 +0000"},
        {999999999999999ll, "Fri, 31 Dec 9999 23:59:59 +0000"},
    };
    for (const DateCase& c : cases) {
        char out[32];
        FormatDate(c.t, out);
        EXPECT_STREQ(c.want, out) << c.t;
    }
}

TEST(RenderedSize, IsWhatRetrSends) {
    for (const Case& c : kCases) {
        if (c.top >= 0) continue;
        const unsigned char* in = reinterpret_cast<const unsigned char*>(c.file.data());
        EXPECT_EQ(c.want.size(), RenderedSize(kMeta, in, c.file.size())) << c.label;
    }
}
