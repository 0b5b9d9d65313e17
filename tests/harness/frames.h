// Frame helpers that every kind of test shares: the in-process tests under Wine, the native
// end-to-end client and the drivers.  No Windows header.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "../../wire/wire.h"   // by its path: the harness library has no wire/ among its folders

namespace frames {

// Hex dump of bytes, each as two digits and a space, for readable failure messages.
inline std::string Hex(const std::string& bytes) {
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02x ", c);
        out += b;
    }
    return out;
}

// A command frame: the text, then zeros up to 100 bytes.
inline std::string Cmd(const std::string& text) {
    std::string f(wire::COMMAND_FRAME_SIZE, '\0');
    std::memcpy(&f[0], text.data(), text.size() < f.size() ? text.size() : f.size());
    return f;
}

inline const std::string kOk("+Ok\0", 4);
inline const std::string kErr("-Erro", 5);

// "+Ok" or "-Erro" for a status frame, the size and a hex dump for anything else.
inline std::string StatusOf(const std::string& reply) {
    if (reply.size() == 5 && reply.compare(0, 4, kOk) == 0) return "+Ok";
    if (reply == kErr) return "-Erro";
    return "other(" + std::to_string(reply.size()) + "): " + Hex(reply.substr(0, 24));
}

// The whole size of the reply to command `text` whose first bytes are `head`, as the client
// sizes it.
inline std::size_t ReplySize(const std::string& text, const std::string& head) {
    std::string frame = Cmd(text);
    wire::Command c = wire::ParseCommand(reinterpret_cast<const unsigned char*>(frame.data()), frame.size()).cmd;
    return wire::ReplySize(c, reinterpret_cast<const unsigned char*>(head.data()), head.size());
}

}  // namespace frames
