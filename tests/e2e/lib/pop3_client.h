// A native test client of the frame dialect over TCP (POSIX sockets).  Every wait is bounded.
#pragma once

#include <cstddef>
#include <string>

#include "tests/harness/frames.h"

namespace e2e {

using frames::Cmd;
using frames::Hex;
using frames::kErr;
using frames::kOk;
using frames::StatusOf;

class Pop3Client {
public:
    Pop3Client() = default;
    ~Pop3Client();
    Pop3Client(const Pop3Client&) = delete;
    Pop3Client& operator=(const Pop3Client&) = delete;

    // Connects to 127.0.0.1:port; false when refused or not within `ms`.
    bool Connect(int port, int ms = 3000);
    void Close();
    // Ends the connection with a reset instead of an orderly close.
    void Abort();
    bool SendRaw(const std::string& bytes);
    // Up to `n` bytes, fewer when the peer closes or `ms` pass.
    std::string Read(std::size_t n, int ms = 5000);
    // Sends a command and reads its whole reply, sized as the client does.
    std::string Ask(const std::string& text, int ms = 5000);
    // True when nothing arrives within `ms` and the connection stays open.
    bool Silent(int ms = 300);
    // True when the peer closes within `ms`; bytes before the close are dropped.
    bool ClosedByPeer(int ms = 5000);
    bool peer_closed() const { return closed_; }

private:
    int fd_ = -1;
    bool closed_ = false;
};

// Tries to connect once; true when something listens on 127.0.0.1:port.
bool Listening(int port);
// Waits until something listens (or not), up to `ms`.
bool WaitListening(int port, bool listening, int ms);

}  // namespace e2e
