#include "wine_app.h"

#include "tests/harness/records.h"

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace e2e {

namespace {

void RemoveTree(const std::string& path) {
    DIR* d = opendir(path.c_str());
    if (d) {
        while (dirent* e = readdir(d)) {
            if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
            std::string p = path + "/" + e->d_name;
            struct stat st;
            if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) RemoveTree(p);
            else unlink(p.c_str());
        }
        closedir(d);
    }
    rmdir(path.c_str());
}

std::string WineRun() { return std::string(SOURCE_DIR) + "/scripts/wine-run.sh"; }

// Forks `argv` with its cwd in `folder`, stdin from /dev/null, stdout to `out_fd` (or /dev/null).
pid_t Spawn(const std::vector<std::string>& argv, const std::string& folder, int out_fd) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(127);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(out_fd >= 0 ? out_fd : null, 1);
    dup2(null, 2);
    // Nothing of the test may live on in the program: a socket of the test inherited by Wine
    // would keep a port taken after the test closed it.
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

}  // namespace

TempFolder::TempFolder() {
    char tmpl[] = "/tmp/quorrel-e2e-XXXXXX";
    path_ = mkdtemp(tmpl) ? tmpl : "";
}

TempFolder::~TempFolder() {
    if (!path_.empty()) RemoveTree(path_);
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string UserBytes(const char* name, const char* password, int access) {
    return records::Bytes(records::User(name, "127.0.0.1", password, access));
}

int HoldPort(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int reuse = 1;   // connections of earlier tests may linger in TIME_WAIT
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<unsigned short>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 1) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool MakeDir(const std::string& path) { return mkdir(path.c_str(), 0755) == 0; }

std::vector<std::string> ListDir(const std::string& path) {
    std::vector<std::string> names;
    DIR* d = opendir(path.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string WinBuildDir() { return WIN_BUILD_DIR; }
std::string WinePrefix() { return std::string(WIN_BUILD_DIR) + "/wine/prefix"; }

WineProcess::~WineProcess() { Kill(); }

bool WineProcess::Start(const std::string& exe, const std::string& folder) {
    pid_ = Spawn({"/bin/sh", WineRun(), "--prefix", WinePrefix(), exe}, folder, -1);
    return pid_ > 0;
}

bool WineProcess::Wait(int ms, int* code) {
    if (pid_ <= 0) return false;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            if (code) *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void WineProcess::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string Drive(const std::vector<std::string>& actions, int ms, const char* driver) {
    int fds[2];
    if (pipe(fds) != 0) return "";
    std::vector<std::string> argv = {"/bin/sh", WineRun(), "--prefix", WinePrefix(),
                                     WinBuildDir() + "/tests/e2e/" + driver};
    argv.insert(argv.end(), actions.begin(), actions.end());
    pid_t pid = Spawn(argv, "", fds[1]);
    close(fds[1]);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::string out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    bool ended = false;
    while (std::chrono::steady_clock::now() < end) {
        char buf[4096];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n > 0) { out.append(buf, static_cast<std::size_t>(n)); continue; }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) { ended = true; break; }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) {
        kill(pid, SIGKILL);
        int status;
        waitpid(pid, &status, 0);
        out += "driver timed out\n";
    }
    for (;;) {
        char buf[4096];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    // Wine's console ends lines with CR LF.
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    return out;
}

Quorrel::~Quorrel() { proc.Kill(); }

bool Quorrel::Launch() {
    if (!Exists(dir / "Admin.psw")) WriteFile(dir / "Admin.psw", std::string("admin", 5) + std::string(6, '\0'));
    if (!proc.Start(WinBuildDir() + "/server/Quorrel.exe", dir.path())) return false;
    return Drive({"wait"}).find("ready") != std::string::npos;
}

void Quorrel::Command(int id) { Drive({"cmd", std::to_string(id)}); }

std::string Quorrel::State() {
    std::string out = Drive({"state"});
    std::size_t p = out.find("state ");
    if (p == std::string::npos) return out;
    return out.substr(p + 6, out.find('\n', p) - p - 6);
}

bool Quorrel::Close(int* code) {
    Drive({"close"});
    return proc.Wait(10000, code);
}

}  // namespace e2e
