// The benchmark's native client (POSIX sockets) and its data generator.
//
//   bench_client make-data DIR       Quorrel's data folder: Users.db (20 users, full access),
//                                    Admin.psw, one folder per user with 15 letters
//   bench_client make-maildir DIR UID GID
//                                    the same users and letters for the POP3 reference:
//                                    DIR/users (passwd-file) and DIR/mail/USER/{cur,new,tmp}
//   bench_client check PORT NAME     one session against a server of the frame dialect; every reply
//                                    must equal the frame the references send (a RETR may carry 'R'
//                                    as its status byte once the letter was read)
//   bench_client run [options] SERVER...
//        SERVER   NAME,KIND,PORT[,PID]  KIND is "frames" or "pop3"; PID, when given, is the process
//                 whose resident memory (with its children's) is reported
//        --rounds R --sessions N --warmup W   W warm-up sessions per server, then R rounds of N
//                 sessions per server, the servers taking turns (their order rotates every round)
//
// A session is: connect and read the greeting, USER, PASS, STAT, LIST, RETR 1 to 15, QUIT, then
// wait for the server to close and close.  Each step is timed on CLOCK_MONOTONIC; every read is
// bounded by a 5 s timeout, and a session that fails is counted and left out.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "data.h"
#include "userrecord.h"
#include "wire.h"

namespace {

using bench::LETTERS;
using bench::USERS;

// ---- data ------------------------------------------------------------------------------------

bool Write(const std::string& path, const void* bytes, std::size_t n) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(n));
    return static_cast<bool>(f);
}

int MakeData(const std::string& dir) {
    mkdir(dir.c_str(), 0755);
    std::string db;
    unsigned char letter[bench::LETTER_SIZE];
    bench::LetterText(letter);
    for (int u = 0; u < USERS; ++u) {
        char name[16], pw[16];
        bench::UserName(u, name);
        bench::Password(u, pw);
        UserRecord rec = {};
        CopyText(rec.name, sizeof rec.name, name);
        CopyText(rec.ip_address, sizeof rec.ip_address, "127.0.0.1");
        CopyText(rec.password, sizeof rec.password, pw);
        rec.letter_count = LETTERS;
        rec.access_level = ACCESS_FULL;
        unsigned char bytes[USER_RECORD_SIZE];
        EncodeUserRecord(rec, bytes);
        db.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
        std::string box = dir + "/" + name;
        mkdir(box.c_str(), 0755);
        for (int k = 1; k <= LETTERS; ++k) {
            char file[32];
            std::snprintf(file, sizeof file, "/%03d.msg", k);
            if (!Write(box + file, letter, sizeof letter)) return 1;
        }
    }
    const char admin[11] = "admin";
    return Write(dir + "/Users.db", db.data(), db.size()) && Write(dir + "/Admin.psw", admin, sizeof admin) ? 0 : 1;
}

int MakeMaildir(const std::string& dir, const char* uid, const char* gid) {
    mkdir(dir.c_str(), 0755);
    std::string mail = dir + "/mail";
    mkdir(mail.c_str(), 0755);
    unsigned char letter[bench::LETTER_SIZE];
    bench::LetterText(letter);
    std::string users;
    for (int u = 0; u < USERS; ++u) {
        char name[16], pw[16];
        bench::UserName(u, name);
        bench::Password(u, pw);
        users += std::string(name) + ":{PLAIN}" + pw + ":" + uid + ":" + gid + "::" + mail + "/" + name + "::\n";
        std::string box = mail + "/" + name;
        for (const char* sub : {"", "/cur", "/new", "/tmp"}) mkdir((box + sub).c_str(), 0700);
        // The same text without Quorrel's status byte, as a read message.
        for (int k = 1; k <= LETTERS; ++k) {
            char file[64];
            std::snprintf(file, sizeof file, "/cur/1700000000.M%dP1.bench,S=%zu:2,S", k, sizeof letter - 1);
            if (!Write(box + file, letter + 1, sizeof letter - 1)) return 1;
        }
    }
    return Write(dir + "/users", users.data(), users.size()) ? 0 : 1;
}

// ---- sessions --------------------------------------------------------------------------------

// The timed steps of a session, in order.
enum Step { CONNECT, USER, PASS, STAT, LIST, RETR1, QUIT = RETR1 + LETTERS, CLOSE, STEPS };

long long Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

int Connect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    timeval tv = {5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const void* p, std::size_t n) {
    const char* c = static_cast<const char*>(p);
    while (n) {
        ssize_t k = send(fd, c, n, MSG_NOSIGNAL);
        if (k <= 0) return false;
        c += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

bool RecvAll(int fd, unsigned char* p, std::size_t n) {
    while (n) {
        ssize_t k = recv(fd, p, n, 0);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

// True when the server closes the connection (nothing more arrives) within the read timeout.
bool PeerCloses(int fd) {
    char b[64];
    for (;;) {
        ssize_t k = recv(fd, b, sizeof b, 0);
        if (k == 0) return true;
        if (k < 0) return false;
    }
}

// One command of the frame dialect and its whole reply, sized as the client sizes it.
bool Ask(int fd, wire::Command cmd, const char* arg, unsigned char (&reply)[wire::DATA_FRAME_SIZE],
         std::size_t* len) {
    unsigned char frame[wire::COMMAND_FRAME_SIZE];
    wire::BuildCommand(frame, cmd, arg);
    if (!SendAll(fd, frame, sizeof frame) || !RecvAll(fd, reply, wire::STATUS_FRAME_SIZE)) return false;
    std::size_t size = wire::ReplySize(cmd, reply, wire::STATUS_FRAME_SIZE);
    if (!RecvAll(fd, reply + wire::STATUS_FRAME_SIZE, size - wire::STATUS_FRAME_SIZE)) return false;
    *len = size;
    return wire::IsPositive(reply, size);
}

// A session of the frame dialect.  `t` gets each step's nanoseconds; `seen`, when given, every
// reply (greeting first), for the check.
bool FrameSession(int port, int user, long long (&t)[STEPS], std::vector<std::string>* seen) {
    char name[16], pw[16];
    bench::UserName(user, name);
    bench::Password(user, pw);
    unsigned char reply[wire::DATA_FRAME_SIZE];
    std::size_t len = 0;
    long long start = Now();
    int fd = Connect(port);
    bool ok = fd >= 0 && RecvAll(fd, reply, wire::STATUS_FRAME_SIZE) && wire::IsPositive(reply, 5);
    if (seen && ok) seen->emplace_back(reinterpret_cast<char*>(reply), wire::STATUS_FRAME_SIZE);
    long long mark = Now();
    t[CONNECT] = mark - start;
    auto step = [&](Step s, wire::Command cmd, const char* arg) {
        if (!ok) return;
        ok = Ask(fd, cmd, arg, reply, &len);
        if (seen && ok) seen->emplace_back(reinterpret_cast<char*>(reply), len);
        long long now = Now();
        t[s] = now - mark;
        mark = now;
    };
    step(USER, wire::Command::User, name);
    step(PASS, wire::Command::Pass, pw);
    step(STAT, wire::Command::Stat, nullptr);
    step(LIST, wire::Command::List, nullptr);
    for (int k = 1; k <= LETTERS; ++k) {
        char num[8];
        std::snprintf(num, sizeof num, "%d", k);
        step(static_cast<Step>(RETR1 + k - 1), wire::Command::Retr, num);
    }
    step(QUIT, wire::Command::Quit, "");
    if (ok) ok = PeerCloses(fd);
    if (fd >= 0) close(fd);
    t[CLOSE] = Now() - mark;
    return ok;
}

// The line dialect of a standard POP3 server: single-line replies end in CR LF, the replies to
// LIST and RETR in CR LF "." CR LF.
struct LineReader {
    int fd;
    std::string buf;
    bool Reply(bool multi) {
        buf.clear();
        char b[65536];
        for (;;) {
            ssize_t k = recv(fd, b, sizeof b, 0);
            if (k <= 0) return false;
            buf.append(b, static_cast<std::size_t>(k));
            if (buf.compare(0, 3, "+OK") != 0 && buf.size() >= 3) return false;
            if (!multi && buf.size() >= 2 && buf.compare(buf.size() - 2, 2, "\r\n") == 0) return true;
            if (multi && buf.size() >= 5 && buf.compare(buf.size() - 5, 5, "\r\n.\r\n") == 0) return true;
        }
    }
};

bool Pop3Session(int port, int user, long long (&t)[STEPS]) {
    char name[16], pw[16];
    bench::UserName(user, name);
    bench::Password(user, pw);
    long long start = Now();
    int fd = Connect(port);
    LineReader r = {fd, {}};
    bool ok = fd >= 0 && r.Reply(false);
    long long mark = Now();
    t[CONNECT] = mark - start;
    auto step = [&](Step s, const std::string& line, bool multi) {
        if (!ok) return;
        ok = SendAll(fd, line.data(), line.size()) && r.Reply(multi);
        long long now = Now();
        t[s] = now - mark;
        mark = now;
    };
    step(USER, std::string("USER ") + name + "\r\n", false);
    step(PASS, std::string("PASS ") + pw + "\r\n", false);
    step(STAT, "STAT\r\n", false);
    step(LIST, "LIST\r\n", true);
    for (int k = 1; k <= LETTERS; ++k)
        step(static_cast<Step>(RETR1 + k - 1), "RETR " + std::to_string(k) + "\r\n", true);
    step(QUIT, "QUIT\r\n", false);
    if (ok) ok = PeerCloses(fd);
    if (fd >= 0) close(fd);
    t[CLOSE] = Now() - mark;
    return ok;
}

// ---- the check -------------------------------------------------------------------------------

// The bytes a receiver reads of a reply: up to and with the NUL that ends its text.
std::string Text(const std::string& reply, std::size_t from) {
    std::size_t nul = reply.find('\0', from);
    return reply.substr(0, nul == std::string::npos ? reply.size() : nul + 1);
}

int Check(int port, const char* name) {
    bench::Replies r;
    bench::BuildReplies(r);
    auto str = [](const unsigned char* p, std::size_t n) { return std::string(reinterpret_cast<const char*>(p), n); };
    std::vector<std::string> want = {str(r.status, 4), str(r.status, 4), str(r.status, 4),
                                     Text(str(r.stat, sizeof r.stat), 5), Text(str(r.list, sizeof r.list), 5)};
    std::vector<std::size_t> sizes = {5, 5, 5, 20, 1000};
    for (int k = 0; k < LETTERS; ++k) {
        want.push_back(Text(str(r.retr, sizeof r.retr), 5));
        sizes.push_back(1000);
    }
    want.push_back(str(r.status, 4));
    sizes.push_back(5);
    long long t[STEPS];
    std::vector<std::string> seen;
    bool ok = FrameSession(port, 0, t, &seen);
    int bad = ok ? 0 : 1;
    if (!ok) std::printf("%s: the session failed after %zu replies\n", name, seen.size());
    for (std::size_t i = 0; i < seen.size() && i < want.size(); ++i) {
        std::string got = seen[i].size() == 5 ? seen[i].substr(0, 4) : Text(seen[i], 5);
        // A letter read in an earlier session carries 'R' as its status byte.
        if (want[i].size() > 5 && got.size() > 5 && got[5] == 'R') got[5] = '0';
        if (seen[i].size() != sizes[i] || got != want[i]) {
            std::printf("%s: reply %zu differs: %zu bytes \"%.40s\"\n", name, i, seen[i].size(), got.c_str());
            ++bad;
        }
    }
    if (!bad) std::printf("%s: all %zu replies of a session are the reference frames\n", name, seen.size());
    return bad ? 1 : 0;
}

// ---- the run ---------------------------------------------------------------------------------

struct Server {
    std::string name;
    bool pop3;
    int port;
    int pid;
    std::vector<std::vector<double>> us;   // per step, microseconds
    std::vector<double> session_us;
    double busy_us = 0;                    // time spent in measured sessions
    int failures = 0;
    std::vector<long> rss_kb;              // after the warm-up, then after every round
};

bool Session(Server& s, int user, long long (&t)[STEPS]) {
    return s.pop3 ? Pop3Session(s.port, user, t) : FrameSession(s.port, user, t, nullptr);
}

// Resident memory of a process and its descendants, in KiB (0 when it is gone).
long TreeRssKb(int root) {
    std::vector<std::pair<int, int>> parent;   // (pid, ppid)
    if (DIR* d = opendir("/proc")) {
        while (dirent* e = readdir(d)) {
            int pid = std::atoi(e->d_name);
            if (pid <= 0) continue;
            std::ifstream f("/proc/" + std::string(e->d_name) + "/stat");
            std::string line;
            std::getline(f, line);
            std::size_t p = line.rfind(')');
            if (p == std::string::npos) continue;
            char state;
            int ppid = 0;
            if (std::sscanf(line.c_str() + p + 1, " %c %d", &state, &ppid) == 2) parent.emplace_back(pid, ppid);
        }
        closedir(d);
    }
    std::vector<int> tree = {root};
    for (std::size_t i = 0; i < tree.size(); ++i)
        for (auto& pp : parent)
            if (pp.second == tree[i]) tree.push_back(pp.first);
    long total = 0;
    for (int pid : tree) {
        std::ifstream f("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(f, line))
            if (line.compare(0, 6, "VmRSS:") == 0) total += std::atol(line.c_str() + 6);
    }
    return total;
}

double Percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    std::size_t i = static_cast<std::size_t>(q * static_cast<double>(v.size()));
    if (i >= v.size()) i = v.size() - 1;
    return v[i];
}

const char* StepName(int step) {
    switch (step) {
    case CONNECT: return "connect+greeting";
    case USER: return "USER";
    case PASS: return "PASS";
    case STAT: return "STAT";
    case LIST: return "LIST";
    case QUIT: return "QUIT";
    case CLOSE: return "close";
    default: return "RETR";
    }
}

// One row of the table: the step's median and p99 per server, and the first server's median
// minus the second's.
void PrintRow(const char* label, const std::vector<std::vector<double>>& per_server) {
    std::printf("%-18s", label);
    for (const std::vector<double>& v : per_server) std::printf(" %9.0f %9.0f", Percentile(v, 0.5), Percentile(v, 0.99));
    if (per_server.size() > 1) std::printf(" %+9.0f", Percentile(per_server[0], 0.5) - Percentile(per_server[1], 0.5));
    std::printf("\n");
}

int Run(std::vector<Server>& servers, int rounds, int per_round, int warmup) {
    long long t[STEPS];
    int user = 0;
    for (Server& s : servers) {
        s.us.assign(STEPS + 1, {});   // the last one: the 15 RETRs of a session together
        for (int i = 0; i < warmup; ++i)
            if (!Session(s, user++ % USERS, t)) ++s.failures;
        if (s.pid > 0) s.rss_kb.push_back(TreeRssKb(s.pid));
    }
    long long begun = Now();
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < servers.size(); ++k) {
            Server& s = servers[(k + static_cast<std::size_t>(round)) % servers.size()];
            for (int i = 0; i < per_round; ++i) {
                if (!Session(s, user++ % USERS, t)) {
                    ++s.failures;
                    continue;
                }
                double total = 0, retr = 0;
                for (int step = 0; step < STEPS; ++step) {
                    s.us[step].push_back(t[step] / 1000.0);
                    total += t[step] / 1000.0;
                    if (step >= RETR1 && step < QUIT) retr += t[step] / 1000.0;
                }
                s.us[STEPS].push_back(retr);
                s.session_us.push_back(total);
                s.busy_us += total;
            }
            if (s.pid > 0) s.rss_kb.push_back(TreeRssKb(s.pid));
        }
        std::fprintf(stderr, "round %d of %d done, %.0f s\n", round + 1, rounds, (Now() - begun) / 1e9);
    }

    std::printf("\nSessions per server: %d measured (%d rounds of %d, servers in turn, the order rotated "
                "every round), after %d of warm-up\n", rounds * per_round, rounds, per_round, warmup);
    std::printf("\nTimes in microseconds, median and p99%s\n",
                servers.size() > 1 ? "; the last column is the median of the first server minus the second's" : "");
    std::printf("%-18s", "step");
    for (const Server& s : servers) std::printf(" %19s", s.name.c_str());
    if (servers.size() > 1) std::printf(" %9s", "excess");
    std::printf("\n%-18s", "");
    for (std::size_t i = 0; i < servers.size(); ++i) std::printf(" %9s %9s", "median", "p99");
    std::printf("\n");
    auto row = [&](const char* label, auto pick) {
        std::vector<std::vector<double>> v;
        for (const Server& s : servers) v.push_back(pick(s));
        PrintRow(label, v);
    };
    for (int step = CONNECT; step < RETR1; ++step) row(StepName(step), [&](const Server& s) { return s.us[step]; });
    row("RETR (each)", [&](const Server& s) {
        std::vector<double> all;
        for (int k = RETR1; k < QUIT; ++k) all.insert(all.end(), s.us[k].begin(), s.us[k].end());
        return all;
    });
    row("RETR 1-15 together", [&](const Server& s) { return s.us[STEPS]; });
    row("QUIT", [&](const Server& s) { return s.us[QUIT]; });
    row("close", [&](const Server& s) { return s.us[CLOSE]; });
    row("whole session", [&](const Server& s) { return s.session_us; });
    std::printf("\n%-18s", "sessions/s");
    for (const Server& s : servers)
        std::printf(" %19.1f", s.busy_us > 0 ? 1e6 * static_cast<double>(s.session_us.size()) / s.busy_us : 0.0);
    std::printf("\n%-18s", "failed sessions");
    for (const Server& s : servers) std::printf(" %19d", s.failures);
    std::printf("\n\nResident memory (KiB; Wine servers: the Wine process of the program, the wineserver not counted)\n");
    std::printf("%-18s %12s %12s %12s %12s\n", "server", "after warm-up", "at the end", "lowest", "highest");
    for (const Server& s : servers) {
        if (s.rss_kb.empty()) continue;
        std::printf("%-18s %12ld %12ld %12ld %12ld\n", s.name.c_str(), s.rss_kb.front(), s.rss_kb.back(),
                    *std::min_element(s.rss_kb.begin(), s.rss_kb.end()),
                    *std::max_element(s.rss_kb.begin(), s.rss_kb.end()));
    }

    std::printf("\nResident memory over the run (MiB: after the warm-up, then after each round)\n");
    for (const Server& s : servers) {
        if (s.rss_kb.empty()) continue;
        std::printf("%-18s", s.name.c_str());
        for (long kb : s.rss_kb) std::printf(" %.1f", kb / 1024.0);
        std::printf("\n");
    }

    if (servers.size() > 1) {
        std::printf("\nRatios of %s to the others\n", servers[0].name.c_str());
        std::printf("%-18s %14s %14s %14s\n", "reference", "session median", "session p99", "memory (end)");
        double m0 = Percentile(servers[0].session_us, 0.5), p0 = Percentile(servers[0].session_us, 0.99);
        for (std::size_t k = 1; k < servers.size(); ++k) {
            const Server& s = servers[k];
            std::printf("%-18s %14.2f %14.2f", s.name.c_str(), m0 / Percentile(s.session_us, 0.5),
                        p0 / Percentile(s.session_us, 0.99));
            if (!s.rss_kb.empty() && !servers[0].rss_kb.empty() && s.rss_kb.back() > 0)
                std::printf(" %14.2f", static_cast<double>(servers[0].rss_kb.back()) / static_cast<double>(s.rss_kb.back()));
            std::printf("\n");
        }
    }
    int failures = 0;
    for (const Server& s : servers) failures += s.failures;
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string what = argc > 1 ? argv[1] : "";
    if (what == "make-data" && argc == 3) return MakeData(argv[2]);
    if (what == "make-maildir" && argc == 5) return MakeMaildir(argv[2], argv[3], argv[4]);
    if (what == "check" && argc == 4) return Check(std::atoi(argv[2]), argv[3]);
    if (what == "run") {
        int rounds = 10, per_round = 200, warmup = 100;
        std::vector<Server> servers;
        for (int i = 2; i < argc; ++i) {
            std::string a = argv[i];
            if (a == "--rounds" && i + 1 < argc) rounds = std::atoi(argv[++i]);
            else if (a == "--sessions" && i + 1 < argc) per_round = std::atoi(argv[++i]);
            else if (a == "--warmup" && i + 1 < argc) warmup = std::atoi(argv[++i]);
            else {
                Server s;
                char name[64], kind[16];
                int port = 0, pid = 0;
                if (std::sscanf(a.c_str(), "%63[^,],%15[^,],%d,%d", name, kind, &port, &pid) < 3) {
                    std::fprintf(stderr, "bad server %s\n", a.c_str());
                    return 2;
                }
                s.name = name;
                s.pop3 = std::strcmp(kind, "pop3") == 0;
                s.port = port;
                s.pid = pid;
                servers.push_back(s);
            }
        }
        if (!servers.empty() && rounds > 0 && per_round > 0) return Run(servers, rounds, per_round, warmup);
    }
    std::fprintf(stderr, "usage: see the head of bench/client.cpp\n");
    return 2;
}
