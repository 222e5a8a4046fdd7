#pragma once

#include <windows.h>

// What the expansion made below the work folder, each file and folder with
// the handle it was held by since it was made, so that it can be given its
// final protection through that handle rather than by path. Each entry
// names the folder it lies in: kTreeRoot for the work folder itself, or the
// entry of that folder, which always comes first.
const LONG kTreeRoot = -1;

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
