// Running the Windows programs under Wine from the native tests: a temporary data folder, the
// program launched in it and killed on every exit path, and the driver qdriver.exe.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace e2e {

// A fresh empty folder under /tmp, removed with its content when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

private:
    std::string path_;
};

bool WriteFile(const std::string& path, const std::string& bytes);
// The 55 bytes of a Users.db record of a user at 127.0.0.1.
std::string UserBytes(const char* name, const char* password, int access);
std::string ReadFile(const std::string& path);   // "" when missing
bool Exists(const std::string& path);
bool MakeDir(const std::string& path);
// A native listener on 0.0.0.0:port, as another program holding the port would be; -1 on failure.
int HoldPort(int port);
std::vector<std::string> ListDir(const std::string& path);   // names, sorted, without . and ..

std::string WinBuildDir();
std::string WinePrefix();

// A Windows program running under Wine in a folder of its own; killed (by its PID) when the object
// goes, unless it has ended.
class WineProcess {
public:
    WineProcess() = default;
    ~WineProcess();
    WineProcess(const WineProcess&) = delete;
    WineProcess& operator=(const WineProcess&) = delete;

    bool Start(const std::string& exe, const std::string& folder);
    // Waits up to `ms` for the end; true with its exit code when it ended.
    bool Wait(int ms, int* code);
    void Kill();
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// Runs a driver (qdriver.exe for Quorrel, vdriver.exe for Vindle) with these actions and returns
// its output (bounded by `ms`; killed after).
std::string Drive(const std::vector<std::string>& actions, int ms = 30000, const char* driver = "qdriver.exe");

// Quorrel.exe in a temp folder, with the data the test put there before Launch.
class Quorrel {
public:
    Quorrel() = default;
    ~Quorrel();
    // Writes Admin.psw, starts Quorrel.exe and waits for its window.
    bool Launch();
    // Drives one or more actions on it.
    std::string Do(const std::vector<std::string>& actions) { return Drive(actions); }
    // Posts a command id and waits until it has run.
    void Command(int id);
    // The "state ..." line of the driver.
    std::string State();
    // Closes the window and waits for the end; true with its exit code.
    bool Close(int* code);

    TempFolder dir;
    WineProcess proc;
};

}  // namespace e2e
