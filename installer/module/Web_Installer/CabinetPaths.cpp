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

BOOL IsSafeMemberName(const char* name, UINT codePage)
{
    const char* componentStart = name;
    for (const char* p = name;; p = NextChar(p, codePage)) {
        if (*p == ':' || *p == '/')
            return FALSE;
        if (*p == '\\' || *p == '\0') {
            size_t length = static_cast<size_t>(p - componentStart);
            if (length == 0 || IsDotComponent(componentStart, length))
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
