#include "ExpandedTree.h"

#include "NoFollow.h"

BOOL CExpandedTree::Add(HANDLE handle, LONG parent, BOOL folder, LONG* index)
{
    if (handle == INVALID_HANDLE_VALUE)
        return FALSE;
    if (m_count == m_capacity) {
        LONG capacity = m_capacity == 0 ? 64 : m_capacity * 2;
        SIZE_T bytes = static_cast<SIZE_T>(capacity) * sizeof(Entry);
        void* grown = m_entries == NULL ? HeapAlloc(GetProcessHeap(), 0, bytes)
                                        : HeapReAlloc(GetProcessHeap(), 0, m_entries, bytes);
        if (grown == NULL) {
            CloseHandle(handle);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        m_entries = static_cast<Entry*>(grown);
        m_capacity = capacity;
    }
    Entry entry = {handle, parent, folder};
    m_entries[m_count] = entry;
    *index = m_count++;
    return TRUE;
}

void CExpandedTree::Close()
{
    for (LONG i = 0; i < m_count; ++i)
        CloseHandle(m_entries[i].handle);
    if (m_entries != NULL)
        HeapFree(GetProcessHeap(), 0, m_entries);
    m_entries = NULL;
    m_count = 0;
    m_capacity = 0;
}

BOOL CExpandedTree::ShareFolders()
{
    for (LONG i = 0; i < m_count; ++i) {
        if (!m_entries[i].folder)
            continue;
        HANDLE shared = ReOpenFile(m_entries[i].handle, kHeldForSecurity, kShareAll,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
        if (shared == INVALID_HANDLE_VALUE)
            return FALSE;
        CloseHandle(m_entries[i].handle);
        m_entries[i].handle = shared;
    }
    return TRUE;
}
