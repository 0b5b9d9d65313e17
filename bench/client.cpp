// The benchmark's native client (POSIX sockets) and its data generator.
//
//   bench_client make-data DIR       Quorrel's data folder: Users.db (20 users, full access),
//                                    Admin.psw, one folder per user with 15 letters
//   bench_client make-scale DIR      Quorrel's data folder for the work at scale (ScaleUsers: the
//                                    registry holds 20 users at most, so it is a folder of its own)
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
//   bench_client scale [--rounds R] DATA MAILDIR PROBE QUORREL_STANDARD QUORREL_DIALECT POP3
//        the work at scale, Quorrel's standard listener and the POP3 reference side by side in R
//        interleaved rounds: RETR of big letters, LIST + UIDL and PASS + STAT of 1,000 letters,
//        clients at once, the dialect's session under load, the window's longest wait (read from
//        PROBE, written by qstart.exe --probe); servers given as NAME,KIND,PORT; with one of KIND
//        "smtp" (Quorrel's SMTP listener) also deliveries by 1 and 8 senders at once
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

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
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

// The users of the work at scale: "big" with letters of 10 KB, 1 MB and 20 MB, "many" with 1,000
// letters of 100 KB, and c01..c18 with the 15 small letters each, for the clients at once (a
// mailbox is open to one conversation at a time in Quorrel, and its registry holds 20 users).
struct ScaleUser {
    std::string name, password;
    std::vector<std::size_t> sizes;   // 0: the small letter of the sessions
};
constexpr int SCALE_CLIENTS = 18;
std::vector<ScaleUser> ScaleUsers() {
    std::vector<ScaleUser> users = {{"big", "pwbig", {10 * 1024, 1024 * 1024, 20 * 1024 * 1024}},
                                    {"many", "pwmany", std::vector<std::size_t>(1000, 100 * 1024)}};
    for (int i = 1; i <= SCALE_CLIENTS; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "c%02d", i);
        users.push_back({name, std::string("pw") + name, std::vector<std::size_t>(LETTERS, 0)});
    }
    return users;
}

// A mail of `size` bytes in CR LF lines, with a header block, so both servers send it as stored.
std::string ScaleLetter(std::size_t size) {
    if (size == 0) {
        unsigned char small[bench::LETTER_SIZE];
        bench::LetterText(small);
        return std::string(reinterpret_cast<char*>(small) + 1, sizeof small - 1);
    }
    std::string t = "From: admin\r\nTo: user\r\nSubject: a big letter\r\n\r\n";
    const std::string line = "The quick brown fox jumps over the lazy dog, 0123456789, again and again.\r\n";
    while (t.size() + line.size() <= size) t += line;
    t += std::string(size - t.size() - 2, 'x') + "\r\n";
    return t;
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

int MakeScale(const std::string& dir) {
    mkdir(dir.c_str(), 0755);
    std::string db;
    for (const ScaleUser& su : ScaleUsers()) {
        UserRecord rec = {};
        CopyText(rec.name, sizeof rec.name, su.name.c_str());
        CopyText(rec.ip_address, sizeof rec.ip_address, "127.0.0.1");
        CopyText(rec.password, sizeof rec.password, su.password.c_str());
        rec.letter_count = static_cast<std::int32_t>(su.sizes.size());
        rec.access_level = ACCESS_FULL;
        unsigned char bytes[USER_RECORD_SIZE];
        EncodeUserRecord(rec, bytes);
        db.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
        std::string box = dir + "/" + su.name;
        mkdir(box.c_str(), 0755);
        for (std::size_t k = 0; k < su.sizes.size(); ++k) {
            std::string text = "0" + ScaleLetter(su.sizes[k]);
            char file[32];
            std::snprintf(file, sizeof file, "/%04zu.msg", k + 1);
            if (!Write(box + file, text.data(), text.size())) return 1;
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
    for (const ScaleUser& su : ScaleUsers()) {
        users += su.name + ":{PLAIN}" + su.password + ":" + uid + ":" + gid + "::" + mail + "/" + su.name + "::\n";
        std::string box = mail + "/" + su.name;
        for (const char* sub : {"", "/cur", "/new", "/tmp"}) mkdir((box + sub).c_str(), 0700);
        for (std::size_t k = 0; k < su.sizes.size(); ++k) {
            std::string text = ScaleLetter(su.sizes[k]);
            char file[80];
            std::snprintf(file, sizeof file, "/cur/1700000000.M%zuP1.bench,S=%zu:2,S", k + 1, text.size());
            if (!Write(box + file, text.data(), text.size())) return 1;
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
bool FrameSession(int port, const char* name, const char* pw, long long (&t)[STEPS], std::vector<std::string>* seen) {
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

bool FrameSession(int port, int user, long long (&t)[STEPS], std::vector<std::string>* seen) {
    char name[16], pw[16];
    bench::UserName(user, name);
    bench::Password(user, pw);
    return FrameSession(port, name, pw, t, seen);
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

// ---- the work at scale -----------------------------------------------------------------------

// One conversation of a standard POP3 server, every reply checked to be positive.
struct Pop3Conn {
    int fd = -1;
    LineReader r{-1, {}};
    bool Open(int port) {
        fd = Connect(port);
        r.fd = fd;
        return fd >= 0 && r.Reply(false);
    }
    bool Ask(const std::string& line, bool multi) {
        std::string l = line + "\r\n";
        return SendAll(fd, l.data(), l.size()) && r.Reply(multi);
    }
    // Ends without committing anything: the next round finds the mailbox as it was.
    void End() {
        if (fd < 0) return;
        if (Ask("RSET", false) && Ask("QUIT", false)) PeerCloses(fd);
        close(fd);
        fd = -1;
    }
    ~Pop3Conn() { End(); }
};

long long WallMs() {
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

// The connections a listening socket had to drop since boot, in this network namespace.
long ListenOverflows() {
    std::ifstream f("/proc/net/netstat");
    std::string names, values;
    while (std::getline(f, names) && std::getline(f, values)) {
        if (names.compare(0, 7, "TcpExt:") != 0) continue;
        std::istringstream n(names), v(values);
        std::string name, value;
        while (n >> name && v >> value)
            if (name == "ListenOverflows") return std::atol(value.c_str());
    }
    return 0;
}

struct Target {
    std::string name;
    bool quorrel;
    int port;
};

// One measured row for one server: the samples (microseconds), and for clients at once the wall
// time and the dropped connections.
struct Cell {
    std::vector<double> us;
    double wall_us = 0;
    long overflows = 0;
    int failures = 0;
    int busy = 0;                                          // PASS refused: the mailbox in use
    std::vector<std::pair<long long, long long>> spans;   // realtime ms, for the window's waits
};

struct ScaleContext {
    std::string data, maildir;
    int dialect_port;
    int smtp_port = 0;   // Quorrel's SMTP listener; 0: the deliveries are left out
};

// The mailbox of "many" as never seen: Quorrel's letters get a new write time (its kept counts no
// longer hold), the reference's index files go.
void Forget(const ScaleContext& ctx, const Target& t, int round) {
    if (t.quorrel) {
        std::string box = ctx.data + "/many";
        DIR* d = opendir(box.c_str());
        if (!d) return;
        timespec times[2] = {{1600000000 + round, 0}, {1600000000 + round, 0}};
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') utimensat(AT_FDCWD, (box + "/" + e->d_name).c_str(), times, 0);
        closedir(d);
        return;
    }
    std::string box = ctx.maildir + "/mail/many";
    DIR* d = opendir(box.c_str());
    if (!d) return;
    while (dirent* e = readdir(d))
        if (std::strncmp(e->d_name, "dovecot", 7) == 0) unlink((box + "/" + e->d_name).c_str());
    closedir(d);
}

bool LogIn(Pop3Conn& c, int port, const std::string& user) {
    return c.Open(port) && c.Ask("USER " + user, false) && c.Ask("PASS pw" + user, false);
}

double Us(long long ns) { return ns / 1000.0; }

// The rows; each measures `reps` samples into the cell.
void RetrRow(const Target& t, int letter, int reps, Cell& cell) {
    Pop3Conn c;
    if (!LogIn(c, t.port, "big")) { ++cell.failures; return; }
    for (int i = 0; i < reps; ++i) {
        long long a = Now();
        if (!c.Ask("RETR " + std::to_string(letter), true)) { ++cell.failures; return; }
        cell.us.push_back(Us(Now() - a));
    }
}

void ListUidlRow(const Target& t, int reps, Cell& cell) {
    Pop3Conn c;
    if (!LogIn(c, t.port, "many")) { ++cell.failures; return; }
    for (int i = 0; i < reps; ++i) {
        long long a = Now();
        if (!c.Ask("LIST", true) || !c.Ask("UIDL", true)) { ++cell.failures; return; }
        cell.us.push_back(Us(Now() - a));
    }
}

void PassStatRow(const ScaleContext& ctx, const Target& t, bool first, int round, int reps, Cell& cell) {
    for (int i = 0; i < reps; ++i) {
        if (first) Forget(ctx, t, round * reps + i);
        Pop3Conn c;
        if (!c.Open(t.port) || !c.Ask("USER many", false)) { ++cell.failures; return; }
        long long a = Now();
        if (!c.Ask("PASS pwmany", false) || !c.Ask("STAT", false)) { ++cell.failures; return; }
        cell.us.push_back(Us(Now() - a));
    }
}

// The standard session of the sessions table, client k on user c<k mod 18>.  Beyond 18 clients
// two share a mailbox: Quorrel refuses a PASS while the other has it open (or the greeting, while
// the other's closing conversation still holds the 24th slot), and the client tries again at once
// (counted in *busy; the session's time includes the tries).
bool ClientSession(int port, int k, double* us, int* busy = nullptr) {
    char name[16];
    std::snprintf(name, sizeof name, "c%02d", k % SCALE_CLIENTS + 1);
    Pop3Conn c;
    long long a = Now();
    for (int tries = 0;; ++tries) {
        // A slot that the other's conversation still holds refuses the greeting the same way.
        bool greeted = c.Open(port);
        if (greeted && c.Ask(std::string("USER ") + name, false) && c.Ask(std::string("PASS pw") + name, false)) break;
        if (tries == 1000 || (c.r.buf.find("IN-USE") == std::string::npos && c.r.buf.find("SYS/TEMP") == std::string::npos))
            return false;
        if (busy) ++*busy;
        c.End();
    }
    if (!c.Ask("STAT", false) || !c.Ask("LIST", true)) return false;
    for (int m = 1; m <= LETTERS; ++m)
        if (!c.Ask("RETR " + std::to_string(m), true)) return false;
    if (!c.Ask("QUIT", false)) return false;
    PeerCloses(c.fd);
    close(c.fd);
    c.fd = -1;
    *us = Us(Now() - a);
    return true;
}

void ClientsRow(const Target& t, int clients, int per_client, Cell& cell) {
    std::vector<std::vector<double>> got(static_cast<std::size_t>(clients));
    std::vector<int> failed(static_cast<std::size_t>(clients), 0), busy(static_cast<std::size_t>(clients), 0);
    long before = ListenOverflows();
    long long a = Now();
    std::vector<std::thread> threads;
    for (int k = 0; k < clients; ++k)
        threads.emplace_back([&, k] {
            for (int i = 0; i < per_client; ++i) {
                double us = 0;
                if (ClientSession(t.port, k, &us, &busy[static_cast<std::size_t>(k)]))
                    got[static_cast<std::size_t>(k)].push_back(us);
                else ++failed[static_cast<std::size_t>(k)];
            }
        });
    for (std::thread& th : threads) th.join();
    cell.wall_us += Us(Now() - a);
    cell.overflows += ListenOverflows() - before;
    for (int k = 0; k < clients; ++k) {
        cell.us.insert(cell.us.end(), got[static_cast<std::size_t>(k)].begin(), got[static_cast<std::size_t>(k)].end());
        cell.failures += failed[static_cast<std::size_t>(k)];
        cell.busy += busy[static_cast<std::size_t>(k)];
    }
}

// The protocol's own one session (Quorrel: the dialect's, on its port; the reference: its standard
// session), `reps` times, with `load` standard clients looping meanwhile on the same server.
void UnderLoadRow(const ScaleContext& ctx, const Target& t, int load, int reps, Cell& cell) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int k = 0; k < load; ++k)
        threads.emplace_back([&, k] {
            double us;
            while (!stop) ClientSession(t.port, k, &us);
        });
    if (load) usleep(200000);   // the load under way
    long long spent[STEPS];
    for (int i = 0; i < reps; ++i) {
        bool ok = t.quorrel ? FrameSession(ctx.dialect_port, "c18", "pwc18", spent, nullptr)
                            : Pop3Session(t.port, i % USERS, spent);
        if (!ok) { ++cell.failures; continue; }
        double total = 0;
        for (long long ns : spent) total += Us(ns);
        cell.us.push_back(total);
    }
    stop = true;
    for (std::thread& th : threads) th.join();
}

// The longest wait of Quorrel's window within the spans, from the probe's lines "realtime_ms
// longest_wait_us" (one per tenth of a second); -1 when the probe wrote nothing for them.
double LongestWait(const std::string& probe, const std::vector<std::pair<long long, long long>>& spans) {
    std::ifstream f(probe);
    long long at;
    double us, worst = -1;
    while (f >> at >> us)
        for (const auto& sp : spans)
            if (at >= sp.first && at <= sp.second + 100 && us > worst) worst = us;
    return worst;
}

// ---- SMTP deliveries ---------------------------------------------------------------------------

// One reply of an SMTP server, its lines read to the last ("ddd " rather than "ddd-"); true when
// its code is `code`.
bool SmtpReply(int fd, std::string& buf, const char* code) {
    buf.clear();
    char b[4096];
    for (;;) {
        std::size_t line = buf.empty() ? std::string::npos : buf.rfind("\r\n", buf.size() - 3);
        line = line == std::string::npos ? 0 : line + 2;
        if (buf.size() >= 2 && buf.compare(buf.size() - 2, 2, "\r\n") == 0 && buf.size() - line >= 6 && buf[line + 3] == ' ')
            return buf.compare(line, 3, code) == 0;
        ssize_t k = recv(fd, b, sizeof b, 0);
        if (k <= 0) return false;
        buf.append(b, static_cast<std::size_t>(k));
    }
}

// A small letter of about 2 KB in CR LF lines, no line starting with a dot.
const std::string& SmtpLetter() {
    static const std::string letter = [] {
        std::string t = "From: sender@example.org\r\nTo: reader\r\nSubject: a small letter\r\n\r\n";
        const std::string line = "The quick brown fox jumps over the lazy dog, 0123456789, again and again.\r\n";
        while (t.size() + line.size() <= 2048) t += line;
        return t;
    }();
    return letter;
}

// One delivery, one conversation: the greeting, EHLO, MAIL FROM, RCPT TO `user` at the domain the
// greeting names, DATA, the letter and the final dot, QUIT and its 221.
bool Deliver(int port, const std::string& user) {
    int fd = Connect(port);
    if (fd < 0) return false;
    std::string r;
    auto ask = [&](const std::string& line, const char* code) {
        return SendAll(fd, line.data(), line.size()) && SmtpReply(fd, r, code);
    };
    bool ok = SmtpReply(fd, r, "220");
    std::string domain;
    if (ok) {
        std::size_t end = r.find(' ', 4);
        domain = r.substr(4, end == std::string::npos ? 0 : end - 4);
        ok = !domain.empty();
    }
    ok = ok && ask("EHLO bench.client\r\n", "250") && ask("MAIL FROM:<sender@example.org>\r\n", "250") &&
         ask("RCPT TO:<" + user + "@" + domain + ">\r\n", "250") && ask("DATA\r\n", "354") &&
         ask(SmtpLetter() + ".\r\n", "250") && ask("QUIT\r\n", "221");
    close(fd);
    return ok;
}

// The letters delivered to the senders' mailboxes go after each row: every *.msg that the data
// folder did not start with, so the folders stay as the other rows know them.
void DropDelivered(const std::string& data, int senders) {
    for (int k = 0; k < senders; ++k) {
        char name[16];
        std::snprintf(name, sizeof name, "c%02d", k % SCALE_CLIENTS + 1);
        std::string box = data + "/" + name;
        DIR* d = opendir(box.c_str());
        if (!d) continue;
        std::vector<std::string> gone;
        while (dirent* e = readdir(d)) {
            std::string f = e->d_name;
            if (f.size() < 4 || f.compare(f.size() - 4, 4, ".msg") != 0) continue;
            int n = 0;
            char tail = 0;
            bool original = std::sscanf(f.c_str(), "%4d.ms%c", &n, &tail) == 2 && f.size() == 8 && n >= 1 && n <= LETTERS;
            if (!original) gone.push_back(box + "/" + f);
        }
        closedir(d);
        for (const std::string& f : gone) unlink(f.c_str());
    }
}

// `senders` at once, each delivering `per_sender` letters to its own user (sender k to c<k+1>).
void DeliveriesRow(const ScaleContext& ctx, int senders, int per_sender, Cell& cell) {
    std::vector<std::vector<double>> got(static_cast<std::size_t>(senders));
    std::vector<int> failed(static_cast<std::size_t>(senders), 0);
    long long a = Now();
    std::vector<std::thread> threads;
    for (int k = 0; k < senders; ++k)
        threads.emplace_back([&, k] {
            char name[16];
            std::snprintf(name, sizeof name, "c%02d", k % SCALE_CLIENTS + 1);
            for (int i = 0; i < per_sender; ++i) {
                long long b = Now();
                if (Deliver(ctx.smtp_port, name)) got[static_cast<std::size_t>(k)].push_back(Us(Now() - b));
                else ++failed[static_cast<std::size_t>(k)];
            }
        });
    for (std::thread& th : threads) th.join();
    cell.wall_us += Us(Now() - a);
    for (int k = 0; k < senders; ++k) {
        cell.us.insert(cell.us.end(), got[static_cast<std::size_t>(k)].begin(), got[static_cast<std::size_t>(k)].end());
        cell.failures += failed[static_cast<std::size_t>(k)];
    }
    DropDelivered(ctx.data, senders);
}

int Scale(int rounds, const ScaleContext& ctx, const std::string& probe, const std::vector<Target>& targets) {
    struct Row {
        std::string label;
        std::function<void(const Target&, int round, Cell&)> run;
        bool clients = false;
        bool under_load = false;
    };
    std::vector<Row> rows = {
        {"RETR 10 KB", [](const Target& t, int, Cell& c) { RetrRow(t, 1, 20, c); }},
        {"RETR 1 MB", [](const Target& t, int, Cell& c) { RetrRow(t, 2, 5, c); }},
        {"RETR 20 MB", [](const Target& t, int, Cell& c) { RetrRow(t, 3, 1, c); }},
        {"LIST+UIDL 1,000", [](const Target& t, int, Cell& c) { ListUidlRow(t, 5, c); }},
        {"PASS+STAT 1st", [&](const Target& t, int r, Cell& c) { PassStatRow(ctx, t, true, r, 1, c); }},
        {"PASS+STAT 2nd", [&](const Target& t, int r, Cell& c) { PassStatRow(ctx, t, false, r, 3, c); }},
        {"1 client", [](const Target& t, int, Cell& c) { ClientsRow(t, 1, 20, c); }, true},
        {"8 clients", [](const Target& t, int, Cell& c) { ClientsRow(t, 8, 5, c); }, true},
        {"24 clients", [](const Target& t, int, Cell& c) { ClientsRow(t, 24, 3, c); }, true},
        {"session idle", [&](const Target& t, int, Cell& c) { UnderLoadRow(ctx, t, 0, 30, c); }},
        {"session, 8 loop", [&](const Target& t, int, Cell& c) { UnderLoadRow(ctx, t, 8, 30, c); }, false, true},
    };
    std::vector<std::vector<Cell>> cells(rows.size(), std::vector<Cell>(targets.size()));
    // Quorrel's SMTP listener alone (the reference has none), after the other rows of each round.
    struct SmtpRow {
        const char* label;
        int senders, per_sender;
    };
    const std::vector<SmtpRow> smtp_rows = {{"1 sender", 1, 100}, {"8 senders", 8, 25}};
    std::vector<Cell> smtp_cells(smtp_rows.size());
    long long begun = Now();
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t r = 0; r < rows.size(); ++r)
            for (std::size_t k = 0; k < targets.size(); ++k) {
                std::size_t j = (k + static_cast<std::size_t>(round)) % targets.size();
                Cell& cell = cells[r][j];
                long long from = WallMs();
                rows[r].run(targets[j], round, cell);
                cell.spans.emplace_back(from, WallMs());
            }
        for (std::size_t r = 0; ctx.smtp_port && r < smtp_rows.size(); ++r) {
            long long from = WallMs();
            DeliveriesRow(ctx, smtp_rows[r].senders, smtp_rows[r].per_sender, smtp_cells[r]);
            smtp_cells[r].spans.emplace_back(from, WallMs());
        }
        std::fprintf(stderr, "scale round %d of %d done, %.0f s\n", round + 1, rounds, (Now() - begun) / 1e9);
    }

    std::printf("\nThe work at scale: %d interleaved rounds; milliseconds, median / p99; the ratio is of the medians\n"
                "(for clients at once: sessions per second, and the ratio is %s's over %s's)\n\n",
                rounds, targets[0].name.c_str(), targets.size() > 1 ? targets[1].name.c_str() : "");
    std::printf("%-18s", "work");
    for (const Target& t : targets) std::printf(" %24s", t.name.c_str());
    std::printf(" %8s %10s %10s\n", "ratio", "window ms", "overflows");
    double idle[2] = {0, 0};
    int failures = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::printf("%-18s", rows[r].label.c_str());
        std::vector<double> med;
        long overflows = 0;
        for (std::size_t k = 0; k < targets.size(); ++k) {
            const Cell& c = cells[r][k];
            failures += c.failures;
            overflows += c.overflows;
            double m = Percentile(c.us, 0.5) / 1000, p = Percentile(c.us, 0.99) / 1000;
            if (rows[r].clients) {
                double per_s = c.wall_us > 0 ? 1e6 * static_cast<double>(c.us.size()) / c.wall_us : 0;
                std::printf("   %6.1f/s %6.1f / %6.1f", per_s, m, p);
                med.push_back(per_s);
            } else {
                std::printf("      %8.2f / %8.2f", m, p);
                med.push_back(m);
            }
            if (rows[r].label == "session idle" && k < 2) idle[k] = m;
            if (c.failures) std::printf(" (%d failed)", c.failures);
            if (c.busy) std::printf(" (%d PASS in use)", c.busy);
        }
        if (med.size() > 1 && med[1] > 0) std::printf(" %8.2f", med[0] / med[1]);
        else std::printf(" %8s", "");
        double wait = -1;
        for (std::size_t k = 0; k < targets.size(); ++k)
            if (targets[k].quorrel) wait = LongestWait(probe, cells[r][k].spans);
        if (wait >= 0) std::printf(" %10.1f", wait / 1000);
        else std::printf(" %10s", "-");
        if (rows[r].clients) std::printf(" %10ld", overflows);
        std::printf("\n");
        if (rows[r].under_load && targets.size() > 1 && idle[0] > 0 && idle[1] > 0)
            std::printf("%-18s %21.2f x      %21.2f x   (slowed: under load over idle)\n", "  slowed",
                        Percentile(cells[r][0].us, 0.5) / 1000 / idle[0], Percentile(cells[r][1].us, 0.5) / 1000 / idle[1]);
    }
    if (ctx.smtp_port) {
        std::printf("\nSMTP deliveries, Quorrel alone: one conversation per letter of %zu bytes (EHLO, MAIL, one RCPT,\n"
                    "DATA, the letter and the dot, QUIT), each sender to a mailbox of its own, emptied after the row;\n"
                    "deliveries per second, and one delivery's milliseconds, median / p99\n\n",
                    SmtpLetter().size());
        std::printf("%-18s %12s %20s %10s %10s\n", "senders", "per second", "ms median / p99", "window ms", "failed");
        for (std::size_t r = 0; r < smtp_rows.size(); ++r) {
            const Cell& c = smtp_cells[r];
            failures += c.failures;
            double per_s = c.wall_us > 0 ? 1e6 * static_cast<double>(c.us.size()) / c.wall_us : 0;
            std::printf("%-18s %10.1f/s %9.2f / %8.2f %10.1f %10d\n", smtp_rows[r].label, per_s,
                        Percentile(c.us, 0.5) / 1000, Percentile(c.us, 0.99) / 1000, LongestWait(probe, c.spans) / 1000,
                        c.failures);
        }
    }
    std::vector<std::pair<long long, long long>> all;
    for (const auto& row : cells)
        for (const Cell& c : row) all.insert(all.end(), c.spans.begin(), c.spans.end());
    for (const Cell& c : smtp_cells) all.insert(all.end(), c.spans.begin(), c.spans.end());
    double wait = LongestWait(probe, all);
    std::printf("\nQuorrel's window, longest wait over the whole run: %.1f ms\n", wait / 1000);
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string what = argc > 1 ? argv[1] : "";
    if (what == "make-data" && argc == 3) return MakeData(argv[2]);
    if (what == "make-scale" && argc == 3) return MakeScale(argv[2]);
    if (what == "make-maildir" && argc == 5) return MakeMaildir(argv[2], argv[3], argv[4]);
    if (what == "check" && argc == 4) return Check(std::atoi(argv[2]), argv[3]);
    if (what == "scale" && argc >= 8) {
        int rounds = 3, i = 2;
        if (std::string(argv[i]) == "--rounds") {
            rounds = std::atoi(argv[i + 1]);
            i += 2;
        }
        if (argc - i < 6) return 2;
        ScaleContext ctx{argv[i], argv[i + 1], 0};
        std::string probe = argv[i + 2];
        std::vector<Target> targets;
        for (int k = i + 3; k < argc; ++k) {
            char name[64], kind[16];
            int port = 0;
            if (std::sscanf(argv[k], "%63[^,],%15[^,],%d", name, kind, &port) != 3) return 2;
            if (std::strcmp(kind, "frames") == 0) ctx.dialect_port = port;
            else if (std::strcmp(kind, "smtp") == 0) ctx.smtp_port = port;
            else targets.push_back({name, std::strncmp(name, "Quorrel", 7) == 0, port});
        }
        if (targets.empty() || rounds <= 0) return 2;
        return Scale(rounds, ctx, probe, targets);
    }
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
