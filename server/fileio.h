// Whole reads and writes of the server's data files, and replacing a file by a temporary one.
#pragma once

#include <windows.h>

// Reads from one of the server's data files, as ReadFile does.
bool ReadData(HANDLE file, void* buf, DWORD size, DWORD* got);
// Writes all `size` bytes or fails.
bool WriteWhole(HANDLE file, const void* bytes, DWORD size);
// Replaces `target` whole by `tmp`; the old file stays as it was when this fails.
bool ReplaceWith(const char* tmp, const char* target);

// Stand-ins for a failing disk, for the tests only; the program never sets them.
//  - g_read_fails: every ReadData fails, as under a file that opened on a disk that then failed.
//  - g_write_room: the room left on the disk (negative: no limit); a WriteWhole that does not fit
//    stops where the room ends and fails, as on a full disk.
//  - g_reads counts the reads of ReadData.
extern bool g_read_fails;
extern int g_reads;
extern long long g_write_room;
void ResetFileFaults();
