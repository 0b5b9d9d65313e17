#include "smtp_data.h"

namespace smtp {

void DataReset(DataReader& r) { r = DataReader{DataState::LineStart, 0, false}; }

std::size_t DataFeed(DataReader& r, const unsigned char* in, std::size_t len, std::size_t* used, unsigned char* out) {
    std::size_t n = 0, i = 0;
    for (; i < len && r.state != DataState::End; ++i) {
        unsigned char c = in[i];
        switch (r.state) {
        case DataState::LineStart:
            if (c == '.') {   // a leading dot is dropped: the end, or a stuffed dot
                r.state = DataState::Dot;
                continue;
            }
            break;
        case DataState::Dot:
            if (c == '\r') {
                r.state = DataState::DotCr;
                continue;
            }
            break;
        case DataState::DotCr:
            if (c == '\n') {
                r.state = DataState::End;
                continue;
            }
            // ".<CR>" then something else: the CR was bare.
            r.bare_line_end = true;
            out[n++] = '\r';
            break;
        case DataState::Cr:
            if (c == '\n') {
                out[n++] = '\r';
                out[n++] = '\n';
                r.state = DataState::LineStart;
                continue;
            }
            r.bare_line_end = true;
            out[n++] = '\r';
            break;
        default: break;
        }
        // An ordinary byte of a line.
        if (c == '\r') {
            r.state = DataState::Cr;   // held back until the next byte says what it is
            continue;
        }
        if (c == '\n') r.bare_line_end = true;
        out[n++] = c;
        r.state = DataState::Middle;
    }
    *used = i;
    r.octets += n;
    return n;
}

}  // namespace smtp
