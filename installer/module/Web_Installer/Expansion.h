#pragma once

#include <windows.h>
#include <setupapi.h>

#include "FolderChain.h"
#include "PathText.h"

// One expansion's account, which CabinetFileCallback keeps in the context
// that SetupIterateCabinetA hands it. Not every SetupAPI stops on the
// callback's error replies, nor reports a member written short (a full
// disk), so each member handed out is checked on disk when reported
// extracted.
class CExpansion {
public:
    CExpansion();

    // The callback's replies to the notifications it acts on; members land
    // below g_extractBase.
    UINT OnFileInCabinet(FILE_IN_CABINET_INFO_A* info);
    UINT OnFileExtracted(const FILEPATHS_A* paths);
    UINT OnNeedNewCabinet(const CABINET_INFO_A* next);

    // TRUE when no member was refused and every member handed to SetupAPI
    // was reported extracted and found intact. Releases the folders held.
    BOOL Finish();

private:
    CExpansion(const CExpansion&);
    CExpansion& operator=(const CExpansion&);

    UINT Fail(const char* what, const char* object, DWORD error, UINT reply);
    UINT Refuse(const char* member, DWORD error);

    BOOL m_failed;
    BOOL m_memberPending;
    DWORD m_memberSize;
    char m_memberTarget[MAX_PATH];
    WCHAR m_memberFinal[kFinalPathCapacity];
    CFolderChain m_memberFolders;
};
