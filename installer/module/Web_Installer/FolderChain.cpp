#include "FolderChain.h"

#include <string.h>
#include <wchar.h>

#include "NoFollow.h"

CFolderChain::CFolderChain(const CHeldFolder& base, CExpandedTree& tree)
    : m_base(base), m_tree(tree), m_count(0), m_baseLength(0)
{
    m_folder[0] = '\0';
    m_finalPath.Assign(m_base.FinalPath());
}

void CFolderChain::ReleaseFrom(size_t level)
{
    if (m_count > level)
        m_count = level;
    if (m_count > 0)
        m_finalPath.Buffer()[m_finalEnds[m_count - 1]] = L'\0';
    else
        m_finalPath.Assign(m_base.FinalPath());
}

// Holds the folder whose path is the first `end` bytes of m_folder.
BOOL CFolderChain::Hold(const char* path, size_t end, const WCHAR* expectedFinal)
{
    CWidePathText wide;
    if (m_count == kMaxFolderLevels) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    if (!WidenPath(path, &wide))
        return FALSE;
    HANDLE level = OpenRealFolder(wide, expectedFinal, &m_finalPath, WRITE_DAC | WRITE_OWNER);
    if (level == INVALID_HANDLE_VALUE || !m_tree.Add(level, Deepest(), TRUE, &m_levels[m_count]))
        return FALSE;
    m_ends[m_count] = end;
    m_finalEnds[m_count] = wcslen(m_finalPath);
    ++m_count;
    return TRUE;
}

BOOL CFolderChain::Open(const char* folder, size_t baseLength)
{
    size_t length = strlen(folder);
    const char* base = m_base.Path();
    if (length >= MAX_PATH || baseLength == 0 || baseLength > length || folder[baseLength - 1] != '\\' ||
        strlen(base) != baseLength - 1 || memcmp(folder, base, baseLength - 1) != 0) {
        Release();
        SetLastError(length >= MAX_PATH ? ERROR_FILENAME_EXCED_RANGE : ERROR_BAD_PATHNAME);
        return FALSE;
    }
    // Keep the levels held for the previous folder that this one begins
    // with: the same bytes up to a separator, so the same folders.
    size_t kept = 0;
    if (baseLength == m_baseLength) {
        while (kept < m_count && m_ends[kept] < length && folder[m_ends[kept]] == '\\' &&
               strncmp(folder, m_folder, m_ends[kept]) == 0)
            ++kept;
    }
    ReleaseFrom(kept);
    m_baseLength = baseLength;
    memcpy(m_folder, folder, length + 1);

    BOOL held = TRUE;
    const char* component = m_folder + (m_count > 0 ? m_ends[m_count - 1] : baseLength - 1) + 1;
    for (char* p = const_cast<char*>(component); held && *p != '\0'; p = const_cast<char*>(NextChar(p, CP_ACP))) {
        if (*p != '\\')
            continue;
        *p = '\0';
        CFinalPath expected;
        held = JoinFinalPath(&expected, m_finalPath, component);
        if (held) {
            CreateDirectoryA(m_folder, NULL);
            held = Hold(m_folder, static_cast<size_t>(p - m_folder), expected);
        }
        *p = '\\';
        component = p + 1;
    }
    if (!held) {
        DWORD error = GetLastError();
        Release();
        SetLastError(error);
    }
    return held;
}
