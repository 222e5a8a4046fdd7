#include "Expansion.h"

#include <string.h>

#include "BoundedString.h"
#include "MemberNames.h"
#include "NoFollow.h"
#include "PayloadExtraction.h"
#include "Refusals.h"
#include "Report.h"

CExpansion::CExpansion() : m_failed(FALSE), m_memberPending(FALSE), m_memberSize(0)
{
    m_memberTarget[0] = '\0';
    m_memberFinal[0] = L'\0';
}

BOOL CExpansion::Finish()
{
    m_memberFolders.Release();
    if (!m_failed && m_memberPending)
        Report(0, "member \"%s\" was never reported extracted", m_memberTarget);
    return !m_failed && !m_memberPending;
}

// Only the first failure of an expansion is reported: what follows is its
// consequence. `what` names `object` with one %s.
UINT CExpansion::Fail(const char* what, const char* object, DWORD error, UINT reply)
{
    if (!m_failed) {
        WIN32_FILE_ATTRIBUTE_DATA found;
        if (error == kRefusedSize && GetFileAttributesExA(object, GetFileExInfoStandard, &found))
            Report(0, "member \"%s\" is %I64u bytes on disk, the cabinet says %lu", object,
                   (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow, m_memberSize);
        else
            Report(error, what, object);
    }
    m_failed = TRUE;
    m_memberFolders.Release();
    SetLastError(error);
    return reply;
}

static const char kNotExpanded[] = "member \"%s\" not expanded";

UINT CExpansion::Refuse(const char* member, DWORD error)
{
    // The reason comes first where the name itself may be long.
    return Fail(error == ERROR_FILENAME_EXCED_RANGE ? "target path longer than 259 bytes for member \"%s\"" : kNotExpanded,
                member, error, FILEOP_ABORT);
}

UINT CExpansion::OnFileInCabinet(FILE_IN_CABINET_INFO_A* info)
{
    const char* name = info->NameInCabinet;
    if (m_memberPending)
        return Refuse(name, kRefusedOrder);
    char target[MAX_PATH] = {0};
    if (!BoundedCopy(target, MAX_PATH, g_extractBase))
        return Refuse(name, ERROR_FILENAME_EXCED_RANGE);
    if (!IsSafeMemberName(name, CP_ACP))
        return Refuse(name, GetLastError());
    if (!BoundedAppend(target, MAX_PATH, name))
        return Refuse(name, ERROR_FILENAME_EXCED_RANGE);

    // The member's folder, with its trailing backslash. A safe name leaves at
    // least the backslash that ends the base, once one is set.
    const char* lastBackslash = FindLastBackslash(target, CP_ACP);
    if (lastBackslash == NULL)
        return Refuse(name, ERROR_PATH_NOT_FOUND);
    char folder[MAX_PATH] = {0};
    memcpy(folder, target, static_cast<size_t>(lastBackslash - target + 1));
    if (!m_memberFolders.Open(folder, g_extractBase.GetLength(), CP_ACP))
        return Refuse(name, GetLastError());

    // The member is written into a new file: nothing of an earlier run's
    // file survives, and a link there is never written through.
    WCHAR* expectedFinal = m_memberFinal;
    if (!JoinFinalPath(expectedFinal, m_memberFolders.FinalPath(), lastBackslash + 1))
        return Refuse(name, ERROR_FILENAME_EXCED_RANGE);
    if (!RemoveLeftover(target, expectedFinal))
        return Refuse(name, GetLastError());

    if (!BoundedCopy(info->FullTargetName, MAX_PATH, target))
        return Refuse(name, ERROR_FILENAME_EXCED_RANGE);
    memcpy(m_memberTarget, target, sizeof(target));
    m_memberSize = info->FileSize;
    m_memberPending = TRUE;
    return FILEOP_DOIT;
}

UINT CExpansion::OnFileExtracted(const FILEPATHS_A* paths)
{
    const char* target = paths->Target != NULL ? paths->Target : "";
    if (!m_memberPending || lstrcmpiA(target, m_memberTarget) != 0)
        return Fail(kNotExpanded, target, kRefusedOrder, ERROR_INVALID_DATA);
    m_memberPending = FALSE;
    if (paths->Win32Error != NO_ERROR)
        return Fail(kNotExpanded, target, paths->Win32Error, paths->Win32Error);
    if (!IsIntactFile(m_memberTarget, m_memberFinal, m_memberSize))
        return Fail(kNotExpanded, target, GetLastError(), ERROR_WRITE_FAULT);
    return NO_ERROR;
}

UINT CExpansion::OnNeedNewCabinet(const CABINET_INFO_A* next)
{
    // The payload is one self-contained cabinet; a set is not expanded.
    return Fail("next cabinet \"%s\" not expanded", next != NULL && next->CabinetFile != NULL ? next->CabinetFile : "",
                kRefusedSet, ERROR_INVALID_DATA);
}
