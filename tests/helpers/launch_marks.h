// Shared by the stand-in installers of the launch tests: they keep a log of
// what happened in "launch-log.txt" beside themselves, which the tests read
// from outside.
#pragma once
#include <windows.h>
#include <stdio.h>
#include <string.h>

// The path of `name` in the folder of this program's file.
inline bool BesideSelf(const char* name, char* path)
{
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    char* slash = strrchr(path, '\\');
    if (slash == NULL || static_cast<size_t>(slash + 1 - path) + strlen(name) >= MAX_PATH)
        return false;
    strcpy(slash + 1, name);
    return true;
}

// Appends one line; several processes may write at once, so every line is
// one append-only write.
inline void LogLine(const char* format, DWORD value)
{
    char path[MAX_PATH];
    if (!BesideSelf("launch-log.txt", path))
        return;
    char line[128];
    int length = _snprintf(line, sizeof(line) - 2, format, value);
    if (length < 0)
        return;
    line[length++] = '\r';
    line[length++] = '\n';
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, length, &written, NULL);
    CloseHandle(file);
}
