// The activity log: one file a day, "Quorrel-YYYY-MM-DD.log" in the log folder, UTF-8 without a
// byte-order mark, CRLF lines, local time, one line per event:
//
//   2026-12-07 19:33:12 POP3 192.168.0.10 login-failed user=ivan
//
// date, time, the source, the client's address or "-", the event, then key=value fields.  A value
// that is empty or holds a space, a quote, a backslash, a control character or anything beyond
// ASCII goes in double quotes, converted from the code page to UTF-8, with '"' and '\' escaped by
// a backslash and control characters as \xHH, so that a line can't be forged by what a client
// sends.  A password never goes in.  Each line is written whole with one append; a write that
// fails is dropped and never stops or slows serving.
//
// Quorrel.ini, read at launch and at each Start:
//   [Log] Enabled=1   without it nothing is written
//         Folder=     relative to the server's folder, default "Logs"
//         Keep=       days, default 30: older files go at Start and at midnight
#pragma once

#include <cstdint>

namespace logsrc {
constexpr const char* SERVER = "SERVER";
constexpr const char* ADMIN = "ADMIN";
constexpr const char* DIALECT = "DIALECT";
constexpr const char* POP3 = "POP3";
constexpr const char* SMTP = "SMTP";
}  // namespace logsrc

// Reads the [Log] section; at Start it also deletes the files older than Keep days.
void ReadLogSettings(bool at_start);
// Called by the sweep: after midnight, the files past Keep go.
void LogNewDay();

// One line, built field by field and written by Write (nothing is written when the log is off).
class LogLine {
public:
    // `address`: an IPv4 address in network byte order, 0 for none ("-").
    LogLine(const char* source, unsigned long address, const char* event);
    LogLine& Text(const char* key, const char* value);   // value in the code page
    LogLine& Number(const char* key, std::uint64_t value);
    void Write();

private:
    void Put(const char* bytes, std::size_t n);
    void PutChar(char c) { Put(&c, 1); }
    char line_[1024];
    std::size_t len_ = 0;
    bool full_ = false;
};

void ResetLog();
