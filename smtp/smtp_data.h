// The message after DATA: its end, its dot-unstuffing and its line ends.
//
// The data ends only at <CRLF>.<CRLF>, the beginning of the data counting as after a CRLF.  A bare
// LF or a bare CR anywhere is remembered (the message is refused) and never starts a line: so
// <LF>.<LF>, <CR>.<CR>, <LF>.<CRLF> and <CR>.<LF> are message text, and a second message hidden
// behind one of them reaches nobody (the smuggling attack of 2023).
#pragma once

#include <cstddef>

namespace smtp {

enum class DataState { LineStart, Dot, DotCr, Middle, Cr, End };

struct DataReader {
    DataState state;
    unsigned long long octets;   // the message's size so far, unstuffed
    bool bare_line_end;          // a CR or an LF not in a CRLF
};

void DataReset(DataReader& r);
// Takes bytes of the data up to its end (all of them when it does not end within `len`); *used
// says how many.  The message's bytes are written to `out`, which has room for len + 1 (a CR
// held back from the piece before may come out first).  Returns how many were written.
std::size_t DataFeed(DataReader& r, const unsigned char* in, std::size_t len, std::size_t* used, unsigned char* out);
inline bool DataEnded(const DataReader& r) { return r.state == DataState::End; }

}  // namespace smtp
