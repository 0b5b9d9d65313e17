// The loopback floor: the least a server of the frame dialect can do on this machine.  A native
// Linux program, one connection at a time, blocking sockets, that answers every command with the
// canned frame Quorrel sends for the benchmark's data.  No file is read and nothing is checked.
//
//   floor_native PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "data.h"
#include "wire.h"

namespace {

bool SendAll(int fd, const unsigned char* p, std::size_t n) {
    while (n) {
        ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

// One conversation; returns when the client quits or goes.
void Serve(int fd, const bench::Replies& r) {
    if (!SendAll(fd, r.status, sizeof r.status)) return;
    for (;;) {
        unsigned char frame[wire::COMMAND_FRAME_SIZE];
        std::size_t have = 0;
        while (have < sizeof frame) {
            ssize_t k = recv(fd, frame + have, sizeof frame - have, 0);
            if (k <= 0) return;
            have += static_cast<std::size_t>(k);
        }
        switch (wire::ParseCommand(frame, sizeof frame).cmd) {
        case wire::Command::User:
        case wire::Command::Pass:
        case wire::Command::Dele: if (!SendAll(fd, r.status, sizeof r.status)) return; break;
        case wire::Command::Stat: if (!SendAll(fd, r.stat, sizeof r.stat)) return; break;
        case wire::Command::List: if (!SendAll(fd, r.list, sizeof r.list)) return; break;
        case wire::Command::Retr: if (!SendAll(fd, r.retr, sizeof r.retr)) return; break;
        case wire::Command::Quit: SendAll(fd, r.status, sizeof r.status); return;
        case wire::Command::None: break;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: floor_native PORT\n");
        return 2;
    }
    static bench::Replies replies;
    bench::BuildReplies(replies);
    int ls = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[1])));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(ls, 16) != 0) {
        std::perror("floor_native: bind");
        return 1;
    }
    for (;;) {
        int fd = accept(ls, nullptr, nullptr);
        if (fd < 0) continue;
        Serve(fd, replies);
        close(fd);
    }
}
