#pragma once

#include <windows.h>

// What the expansion made below the work folder, each file and folder with
// the handle it was held by since it was made (or one opened from that), so
// that its protection can be changed through that handle rather than by
// path. Each entry names the folder it lies in: kTreeRoot for the work
// folder itself, or the entry of that folder, which always comes first.
const LONG kTreeRoot = -1;

// How the tree's files are held, and its folders once the installer starts,
// sharing everything (kShareAll): no data access, so that no share mode
// stands in anyone's way, and the rights the grants need: read and write the DACL, take the label away.
const DWORD kHeldForSecurity = FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC | WRITE_OWNER;

class CExpandedTree {
public:
    struct Entry {
        HANDLE handle;
        LONG parent;
        BOOL folder;
    };

    CExpandedTree() : m_entries(NULL), m_count(0), m_capacity(0) {}
    ~CExpandedTree() { Close(); }

    // Takes `handle` over, whatever the outcome, and gives its entry's index
    // in `index`. FALSE, keeping the last error, for INVALID_HANDLE_VALUE;
    // FALSE when there is no memory for it (the handle is then closed).
    BOOL Add(HANDLE handle, LONG parent, BOOL folder, LONG* index);
    // Before the installer starts: every folder is held from then on by a
    // handle that shares everything and reads no data, so that the installer
    // may rename or delete its own folders. FALSE, keeping the old handle of
    // each folder that could not be opened again, at the first failure.
    BOOL ShareFolders();
    // Closes every handle and forgets every entry.
    void Close();

    LONG Count() const { return m_count; }
    const Entry& At(LONG index) const { return m_entries[index]; }

private:
    CExpandedTree(const CExpandedTree&);
    CExpandedTree& operator=(const CExpandedTree&);

    Entry* m_entries;
    LONG m_count;
    LONG m_capacity;
};
