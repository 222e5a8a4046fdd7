#include "CabinetPaths.h"

#include <string.h>

#include "BoundedString.h"

static const char* NextChar(const char* p, UINT codePage)
{
    if (IsDBCSLeadByteEx(codePage, static_cast<BYTE>(*p)) && p[1] != '\0')
        return p + 2;
    return p + 1;
}

const char* FindLastBackslash(const char* path, UINT codePage)
{
    const char* last = NULL;
    for (const char* p = path; *p != '\0'; p = NextChar(p, codePage)) {
        if (*p == '\\')
            last = p;
    }
    return last;
}

static BOOL IsDotComponent(const char* start, size_t length)
{
    return (length == 1 && start[0] == '.') || (length == 2 && start[0] == '.' && start[1] == '.');
}

// Reserved device names (CON, NUL, COM1, ...), with or without an extension:
// a file of that name in any folder opens the device instead.
static BOOL IsDeviceName(const char* start, size_t length)
{
    size_t stem = 0;
    while (stem < length && start[stem] != '.')
        ++stem;
    while (stem > 0 && start[stem - 1] == ' ')
        --stem;
    char upper[5] = {0};
    if (stem < 3 || stem > 4)
        return FALSE;
    for (size_t i = 0; i < stem; ++i)
        upper[i] = (start[i] >= 'a' && start[i] <= 'z') ? static_cast<char>(start[i] - 'a' + 'A') : start[i];
    if (stem == 3)
        return strcmp(upper, "CON") == 0 || strcmp(upper, "PRN") == 0 || strcmp(upper, "AUX") == 0 ||
               strcmp(upper, "NUL") == 0;
    return (strncmp(upper, "COM", 3) == 0 || strncmp(upper, "LPT", 3) == 0) && upper[3] >= '1' && upper[3] <= '9';
}

BOOL IsSafeMemberName(const char* name, UINT codePage)
{
    const char* componentStart = name;
    for (const char* p = name;; p = NextChar(p, codePage)) {
        if (*p == ':' || *p == '/')
            return FALSE;
        if (*p == '\\' || *p == '\0') {
            size_t length = static_cast<size_t>(p - componentStart);
            if (length == 0 || IsDotComponent(componentStart, length) || IsDeviceName(componentStart, length))
                return FALSE;
            if (*p == '\0')
                return TRUE;
            componentStart = p + 1;
        }
    }
}

void CreateFolderLevels(const char* folder, size_t existingLength, UINT codePage)
{
    char level[MAX_PATH] = {0};
    if (!BoundedCopy(level, MAX_PATH, folder) || existingLength > strlen(level))
        return;
    for (char* p = level + existingLength; *p != '\0'; p = const_cast<char*>(NextChar(p, codePage))) {
        if (*p != '\\')
            continue;
        *p = '\0';
        CreateDirectoryA(level, NULL);
        *p = '\\';
    }
}
