#include "fileio.h"

bool g_read_fails;
int g_reads;
long long g_write_room = -1;

bool ReadData(HANDLE file, void* buf, DWORD size, DWORD* got) {
    *got = 0;
    ++g_reads;
    if (g_read_fails) {
        SetLastError(ERROR_READ_FAULT);
        return false;
    }
    return ReadFile(file, buf, size, got, nullptr) != FALSE;
}

bool WriteWhole(HANDLE file, const void* bytes, DWORD size) {
    DWORD n = size;
    if (g_write_room >= 0 && n > g_write_room) n = static_cast<DWORD>(g_write_room);
    DWORD done = 0;
    BOOL ok = WriteFile(file, bytes, n, &done, nullptr);
    if (g_write_room >= 0) g_write_room -= done;
    return ok && done == size;
}

bool ReplaceWith(const char* tmp, const char* target) {
    return MoveFileExA(tmp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

void ResetFileFaults() {
    g_read_fails = false;
    g_reads = 0;
    g_write_room = -1;
}
