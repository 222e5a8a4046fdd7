#pragma once

#include <windows.h>

#include "ExpandedTree.h"
#include "HeldFolder.h"
#include "PathText.h"

const size_t kMaxFolderLevels = MAX_PATH / 2;

// The folders from a held base folder down to one member's folder, a stack
// of levels: each level is created when missing and opened as a real folder
// at the final path its parent's gives it, so that none of them is a link.
// Its handle goes to `tree`, which holds it (with WRITE_DAC and WRITE_OWNER,
// for the folder's grants) until the tree closes, also after the chain
// has moved on. The levels a member's folder shares with the previous one
// are not opened again. The base itself is held by its owner and never
// reopened.
class CFolderChain {
public:
    CFolderChain(const CHeldFolder& base, CExpandedTree& tree);
    ~CFolderChain() { Release(); }

    // `folder` ends with a backslash; its first `baseLength` bytes are the
    // base folder's path with a backslash, in the ANSI code page. FALSE,
    // holding nothing, when a level is missing and cannot be created, or is
    // not a real folder where its parent's final path says it should be.
    BOOL Open(const char* folder, size_t baseLength);
    void Release() { ReleaseFrom(0); }

    // The final path of the deepest folder held, and its entry in the tree.
    const WCHAR* FinalPath() const { return m_finalPath; }
    LONG Deepest() const { return m_count > 0 ? m_levels[m_count - 1] : kTreeRoot; }

private:
    CFolderChain(const CFolderChain&);
    CFolderChain& operator=(const CFolderChain&);

    void ReleaseFrom(size_t level);
    BOOL Hold(const char* path, size_t end, const WCHAR* expectedFinal);

    const CHeldFolder& m_base;
    CExpandedTree& m_tree;
    // For each level below the base: its entry in the tree, where its path ends in
    // m_folder, and where its final path ends in m_finalPath (each level's
    // final path begins with its parent's).
    LONG m_levels[kMaxFolderLevels];
    size_t m_ends[kMaxFolderLevels];
    size_t m_finalEnds[kMaxFolderLevels];
    size_t m_count;
    size_t m_baseLength;
    char m_folder[MAX_PATH];
    CFinalPath m_finalPath;
};
