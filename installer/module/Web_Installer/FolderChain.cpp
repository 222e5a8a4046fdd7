#include "FolderChain.h"

#include <string.h>
#include <wchar.h>

#include "NoFollow.h"
#include "PathText.h"

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
