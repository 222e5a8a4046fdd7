#pragma once

#include <windows.h>
#include <setupapi.h>

#include "ExpandedTree.h"
#include "FolderChain.h"
#include "HeldFolder.h"
#include "MemberNames.h"
#include "PathText.h"

// One expansion's account, which CabinetFileCallback keeps in the context
// that SetupIterateCabinetA hands it. Not every SetupAPI stops on the
// callback's error replies, nor reports a member written short (a full
// disk), so each member handed out is checked on disk when reported
// extracted, through the one handle that then holds it in `tree`.
class CExpansion {
public:
    // Members are expanded below `work`; every folder and member made is
    // added to `tree`.
    CExpansion(const CHeldFolder& work, CExpandedTree& tree);

    // The callback's replies to the notifications it acts on. A member lands
    // at `base`, the work folder's path with a backslash, followed by its name.
    UINT OnFileInCabinet(FILE_IN_CABINET_INFO_A* info, const char* base);
    UINT OnFileExtracted(const FILEPATHS_A* paths);
    UINT OnNeedNewCabinet(const CABINET_INFO_A* next);

    // TRUE when no member was refused and every member handed to SetupAPI
    // was reported extracted and found intact.
    BOOL Finish();

private:
    CExpansion(const CExpansion&);
    CExpansion& operator=(const CExpansion&);

    UINT Fail(const char* what, const char* object, DWORD error, UINT reply, ULONGLONG foundSize = 0);
    UINT Refuse(const char* member, DWORD error);
    // A member handed to SetupAPI that it has not reported extracted yet.
    BOOL IsMemberPending() const { return !m_memberTarget.IsEmpty(); }

    BOOL m_failed;
    // The member handed out: its target and its size.
    CPathText m_memberTarget;
    DWORD m_memberSize;
    CExpandedTree& m_tree;
    CFolderChain m_memberFolders;
    CSeenNames m_seen;
};
