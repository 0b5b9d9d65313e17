#include "pop3_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "wire.h"

namespace e2e {

Pop3Client::~Pop3Client() { Close(); }

bool Pop3Client::Connect(int port, int ms) {
    Close();
    closed_ = false;
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) return false;
    fcntl(fd_, F_SETFL, O_NONBLOCK);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return true;
    if (errno != EINPROGRESS) { Close(); return false; }
    pollfd p = {fd_, POLLOUT, 0};
    if (poll(&p, 1, ms) != 1) { Close(); return false; }
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) { Close(); return false; }
    return true;
}

void Pop3Client::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

void Pop3Client::Abort() {
    if (fd_ < 0) return;
    linger l = {1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
}

bool Pop3Client::SendRaw(const std::string& bytes) {
    std::size_t sent = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (sent < bytes.size() && std::chrono::steady_clock::now() < end) {
        ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) { sent += static_cast<std::size_t>(n); continue; }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        pollfd p = {fd_, POLLOUT, 0};
        poll(&p, 1, 100);
    }
    return sent == bytes.size();
}

std::string Pop3Client::Read(std::size_t n, int ms) {
    std::string got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < n && fd_ >= 0) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        end - std::chrono::steady_clock::now()).count());
        if (left <= 0) break;
        pollfd p = {fd_, POLLIN, 0};
        if (poll(&p, 1, left) != 1) break;
        char buf[1000];
        std::size_t want = n - got.size() < sizeof buf ? n - got.size() : sizeof buf;
        ssize_t r = recv(fd_, buf, want, 0);
        if (r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) { closed_ = true; break; }
        if (r > 0) got.append(buf, static_cast<std::size_t>(r));
    }
    return got;
}

std::string Pop3Client::Ask(const std::string& text, int ms) {
    if (!SendRaw(Cmd(text))) return "";
    std::string head = Read(wire::STATUS_FRAME_SIZE, ms);
    std::size_t size = frames::ReplySize(text, head);
    if (head.size() == wire::STATUS_FRAME_SIZE && size > head.size()) head += Read(size - head.size(), ms);
    return head;
}

bool Pop3Client::Silent(int ms) {
    std::string got = Read(1, ms);
    return got.empty() && !closed_;
}

bool Pop3Client::ClosedByPeer(int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!closed_ && fd_ >= 0 && std::chrono::steady_clock::now() < end) Read(1000, 100);
    return closed_;
}

bool Listening(int port) {
    Pop3Client c;
    return c.Connect(port, 1000);
}

bool WaitListening(int port, bool listening, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (Listening(port) == listening) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace e2e
