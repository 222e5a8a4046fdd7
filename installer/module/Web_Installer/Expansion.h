#pragma once

#include <windows.h>
#include <setupapi.h>

#include "FolderChain.h"
#include "HeldFolder.h"
#include "PathText.h"

// One expansion's account, which CabinetFileCallback keeps in the context
// that SetupIterateCabinetA hands it. Not every SetupAPI stops on the
// callback's error replies, nor reports a member written short (a full
// disk), so each member handed out is checked on disk when reported
// extracted.
class CExpansion {
public:
    // Members are expanded below `work`.
    explicit CExpansion(const CHeldFolder& work);

    // The callback's replies to the notifications it acts on. A member lands
    // at `base`, the work folder's path with a backslash, followed by its name.
    UINT OnFileInCabinet(FILE_IN_CABINET_INFO_A* info, const char* base);
    UINT OnFileExtracted(const FILEPATHS_A* paths);
    UINT OnNeedNewCabinet(const CABINET_INFO_A* next);

    // TRUE when no member was refused and every member handed to SetupAPI
    // was reported extracted and found intact. Releases the folders held.
    BOOL Finish();

private:
    CExpansion(const CExpansion&);
    CExpansion& operator=(const CExpansion&);

    UINT Fail(const char* what, const char* object, DWORD error, UINT reply, ULONGLONG foundSize = 0);
    UINT Refuse(const char* member, DWORD error);
    // A member handed to SetupAPI that it has not reported extracted yet.
    BOOL IsMemberPending() const { return !m_memberTarget.IsEmpty(); }

    BOOL m_failed;
    // The member handed out: its target, the final path there and its size.
    CPathText m_memberTarget;
    CFinalPath m_memberFinal;
    DWORD m_memberSize;
    CFolderChain m_memberFolders;
};
