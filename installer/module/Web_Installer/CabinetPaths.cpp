#include "CabinetPaths.h"

#include <string.h>
#include <wchar.h>

#include "BoundedString.h"
#include "CodePage.h"
#include "Diagnostics.h"

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

static BOOL Refuse(DWORD reason)
{
    SetLastError(reason);
    return FALSE;
}

static char Upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

static BOOL StartsWith(const char* start, size_t length, const char* prefix)
{
    size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i == length || Upper(start[i]) != prefix[i])
            return FALSE;
    }
    return TRUE;
}

static BOOL IsExactly(const char* start, size_t length, const char* name)
{
    return strlen(name) == length && StartsWith(start, length, name);
}

// The port number of COM<n> and LPT<n>: one digit, or a superscript one, two
// or three as the code page spells it (bytes B9, B2, B3 in 1252, while in
// 932 those bytes are katakana).
static BOOL IsPortNumber(const char* start, size_t length, UINT codePage)
{
    WCHAR wide[2] = {0};
    if (MultiByteToWideChar(codePage, WideningFlags(codePage), start, static_cast<int>(length), wide, 2) != 1)
        return FALSE;
    return (wide[0] >= L'0' && wide[0] <= L'9') || wide[0] == 0x00B9 || wide[0] == 0x00B2 || wide[0] == 0x00B3;
}

// Reserved device names (CON, NUL, COM1, CONIN$, ...), with or without an
// extension: a file of that name in any folder opens the device instead.
static BOOL IsDeviceName(const char* start, size_t length, UINT codePage)
{
    size_t stem = 0;
    while (stem < length && start[stem] != '.')
        ++stem;
    while (stem > 0 && start[stem - 1] == ' ')
        --stem;
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (size_t i = 0; i < sizeof(devices) / sizeof(devices[0]); ++i) {
        if (IsExactly(start, stem, devices[i]))
            return TRUE;
    }
    return stem > 3 && (StartsWith(start, stem, "COM") || StartsWith(start, stem, "LPT")) &&
           IsPortNumber(start + 3, stem - 3, codePage);
}

BOOL IsSafeMemberName(const char* name, UINT codePage)
{
    const char* componentStart = name;
    const char* lastChar = NULL;
    for (const char* p = name;; p = NextChar(p, codePage)) {
        if (*p == ':' || *p == '/')
            return Refuse(kRefusedNameCharacter);
        if (*p == '\\' || *p == '\0') {
            size_t length = static_cast<size_t>(p - componentStart);
            // Windows strips a final dot or space, so such a component would
            // name another file than the cabinet does.
            if (length == 0)
                return Refuse(kRefusedNameEmpty);
            if (*lastChar == '.' || *lastChar == ' ')
                return Refuse(kRefusedNameEnd);
            if (IsDeviceName(componentStart, length, codePage))
                return Refuse(kRefusedNameDevice);
            if (*p == '\0')
                return TRUE;
            componentStart = p + 1;
        }
        lastChar = p;
    }
}

CFolderChain::CFolderChain() : m_count(0)
{
    m_folder[0] = '\0';
    m_finalPath[0] = L'\0';
}

void CFolderChain::ReleaseFrom(size_t level)
{
    while (m_count > level)
        CloseHandle(m_levels[--m_count]);
    m_finalPath[m_count > 0 ? m_finalEnds[m_count - 1] : 0] = L'\0';
}

// Holds the folder whose path is the first `end` bytes of m_folder.
BOOL CFolderChain::Hold(const char* path, size_t end, const WCHAR* expectedFinal)
{
    if (m_count == kMaxFolderLevels)
        return FALSE;
    HANDLE level = OpenRealFolder(path, expectedFinal, m_finalPath);
    if (level == INVALID_HANDLE_VALUE)
        return FALSE;
    m_levels[m_count] = level;
    m_ends[m_count] = end;
    m_finalEnds[m_count] = wcslen(m_finalPath);
    ++m_count;
    return TRUE;
}

BOOL CFolderChain::Open(const char* folder, size_t baseLength, UINT codePage)
{
    size_t length = strlen(folder);
    if (length >= MAX_PATH || baseLength == 0 || baseLength > length || folder[baseLength - 1] != '\\') {
        Release();
        return FALSE;
    }
    // Keep the levels held for the previous folder that this one begins
    // with: the same bytes up to a separator, so the same folders.
    size_t kept = 0;
    if (m_count > 0 && m_ends[0] == baseLength - 1) {
        while (kept < m_count && m_ends[kept] < length && folder[m_ends[kept]] == '\\' &&
               strncmp(folder, m_folder, m_ends[kept]) == 0)
            ++kept;
    }
    ReleaseFrom(kept);
    memcpy(m_folder, folder, length + 1);

    if (m_count == 0) {
        m_folder[baseLength - 1] = '\0';
        BOOL baseHeld = Hold(m_folder, baseLength - 1, NULL);
        m_folder[baseLength - 1] = '\\';
        if (!baseHeld)
            return FALSE;
    }
    BOOL held = TRUE;
    const char* component = m_folder + m_ends[m_count - 1] + 1;
    for (char* p = const_cast<char*>(component); held && *p != '\0'; p = const_cast<char*>(NextChar(p, codePage))) {
        if (*p != '\\')
            continue;
        *p = '\0';
        WCHAR expected[kFinalPathCapacity];
        held = JoinFinalPath(expected, m_finalPath, component);
        if (held) {
            CreateDirectoryA(m_folder, NULL);
            held = Hold(m_folder, static_cast<size_t>(p - m_folder), expected);
        }
        *p = '\\';
        component = p + 1;
    }
    if (!held)
        Release();
    return held;
}
