// Times Quorrel's start-up from inside Wine: from CreateProcess to its main window being shown
// (with its buttons and user list made), and Start (IDM_START posted as WM_COMMAND, as a click
// on the button does) until the Stop button is enabled, which happens once the users are loaded
// into the list and the listener is made.  The current folder is the server's data folder.
//
//   qstart.exe QUORREL.EXE RUNS
//
// Every run but the last closes the program again; the last one is left running and serving.
// Prints per run "run N window_ms W start_ms S rows R"; the exit code is 0 when every run
// got its window and its Start.
//
//   qstart.exe --probe FILE
//
// Until it is ended: sends the running Quorrel's window an empty message every 10 ms and times its
// answer; every tenth of a second appends "realtime_ms longest_wait_us" of that tenth to FILE.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "server/resource.h"

namespace {


double Ms(LARGE_INTEGER from, LARGE_INTEGER to) {
    static LARGE_INTEGER freq = {};
    if (!freq.QuadPart) QueryPerformanceFrequency(&freq);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(freq.QuadPart);
}

// The shown main window of that process, or null.
HWND ShownMain(DWORD pid) {
    HWND h = nullptr;
    while ((h = FindWindowExA(nullptr, h, "Application", "POP3 - СЕРВЕР.")) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(h, &owner);
        if (owner == pid && IsWindowVisible(h) && GetDlgItem(h, IDM_PAUSE) && GetDlgItem(h, IDC_USERLIST)) return h;
    }
    return nullptr;
}

long long RealtimeMs() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    unsigned long long t = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<long long>((t - 116444736000000000ull) / 10000);
}

int Probe(const char* path) {
    HWND main = nullptr;
    while (!(main = FindWindowA("Application", "POP3 - СЕРВЕР."))) Sleep(10);
    LARGE_INTEGER a, b;
    double worst = 0;
    long long tenth = RealtimeMs() / 100;
    for (;;) {
        QueryPerformanceCounter(&a);
        DWORD_PTR r = 0;
        if (!SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &r) && !IsWindow(main)) return 0;
        QueryPerformanceCounter(&b);
        double us = 1000 * Ms(a, b);
        if (us > worst) worst = us;
        long long now = RealtimeMs();
        if (now / 100 != tenth) {
            if (FILE* f = std::fopen(path, "a")) {
                std::fprintf(f, "%lld %.0f\n", now, worst);
                std::fclose(f);
            }
            worst = 0;
            tenth = now / 100;
        }
        Sleep(10);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--probe") == 0) return Probe(argv[2]);
    if (argc != 3) {
        std::fprintf(stderr, "usage: qstart.exe QUORREL.EXE RUNS\n");
        return 2;
    }
    int runs = std::atoi(argv[2]);
    for (int run = 1; run <= runs; ++run) {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        LARGE_INTEGER t0, t1, t2, t3;
        QueryPerformanceCounter(&t0);
        if (!CreateProcessA(argv[1], nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            std::printf("run %d cannot start %s: error %lu\n", run, argv[1], GetLastError());
            return 1;
        }
        HWND main = nullptr;
        for (int i = 0; i < 30000 && !main; ++i) {
            main = ShownMain(pi.dwProcessId);
            if (!main) Sleep(1);
        }
        QueryPerformanceCounter(&t1);
        if (!main) {
            std::printf("run %d no window\n", run);
            TerminateProcess(pi.hProcess, 1);
            return 1;
        }
        HWND stop = GetDlgItem(main, IDM_STOP);
        QueryPerformanceCounter(&t2);
        PostMessageA(main, WM_COMMAND, MAKEWPARAM(IDM_START, 0), 0);
        bool started = false;
        for (int i = 0; i < 30000 && !started; ++i) {
            started = IsWindowEnabled(stop) != 0;
            if (!started) Sleep(1);
        }
        QueryPerformanceCounter(&t3);
        long rows = static_cast<long>(SendMessageA(GetDlgItem(main, IDC_USERLIST), LVM_GETITEMCOUNT, 0, 0));
        std::printf("run %d window_ms %.1f start_ms %.1f rows %ld\n", run, Ms(t0, t1), Ms(t2, t3), rows);
        std::fflush(stdout);
        if (!started) {
            TerminateProcess(pi.hProcess, 1);
            return 1;
        }
        if (run < runs) {
            PostMessageA(main, WM_CLOSE, 0, 0);
            if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    return 0;
}
