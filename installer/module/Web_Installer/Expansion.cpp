#include "Expansion.h"

#include <string.h>

#include "BoundedString.h"
#include "MemberNames.h"
#include "Handle.h"
#include "NoFollow.h"
#include "Refusals.h"
#include "Report.h"
#include "TestSeam.h"

CExpansion::CExpansion(const CHeldFolder& work, CExpandedTree& tree)
    : m_failed(FALSE), m_memberSize(0), m_tree(tree), m_memberFolders(work, tree)
{
}

BOOL CExpansion::Finish()
{
    m_memberFolders.Release();
    if (!m_failed && IsMemberPending())
        Report(0, "member \"%s\" was never reported extracted", m_memberTarget.Get());
    return !m_failed && !IsMemberPending();
}

// Only the first failure of an expansion is reported: what follows is its
// consequence. `what` names `object` with one %s; a member of the wrong size
// is reported with the size found.
UINT CExpansion::Fail(const char* what, const char* object, DWORD error, UINT reply, ULONGLONG foundSize)
{
    if (!m_failed) {
        if (error == kRefusedSize)
            Report(0, "member \"%s\" is %I64u bytes on disk, the cabinet says %lu", object, foundSize, m_memberSize);
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

UINT CExpansion::OnFileInCabinet(FILE_IN_CABINET_INFO_A* info, const char* base)
{
    const char* name = info->NameInCabinet;
    if (IsMemberPending())
        return Refuse(name, kRefusedOrder);
    CPathText target;
    if (!target.Assign(base))
        return Refuse(name, GetLastError());
    if (!IsSafeMemberName(name, CP_ACP) || !m_seen.Add(name))
        return Refuse(name, GetLastError());
    if (!target.Append(name))
        return Refuse(name, GetLastError());

    // The member's folder, with its trailing backslash. A safe name leaves at
    // least the backslash that ends the base, once one is set.
    const char* lastBackslash = FindLastBackslash(target, CP_ACP);
    if (lastBackslash == NULL)
        return Refuse(name, ERROR_PATH_NOT_FOUND);
    char folder[MAX_PATH] = {0};
    memcpy(folder, target.Get(), static_cast<size_t>(lastBackslash - target.Get() + 1));
    if (!m_memberFolders.Open(folder, strlen(base)))
        return Refuse(name, GetLastError());

    if (!BoundedCopy(info->FullTargetName, MAX_PATH, target))
        return Refuse(name, ERROR_FILENAME_EXCED_RANGE);
    m_memberTarget = target;
    m_memberSize = info->FileSize;
    TestSeam("member-offered", m_memberTarget.Get());
    return FILEOP_DOIT;
}

UINT CExpansion::OnFileExtracted(const FILEPATHS_A* paths)
{
    const char* target = paths->Target != NULL ? paths->Target : "";
    if (!IsMemberPending() || !IsSamePath(target, m_memberTarget))
        return Fail(kNotExpanded, target, kRefusedOrder, ERROR_INVALID_DATA);
    CPathText member = m_memberTarget;
    m_memberTarget.Clear();
    TestSeam("member-extracted", member.Get());
    if (paths->Win32Error != NO_ERROR)
        return Fail(kNotExpanded, target, paths->Win32Error, paths->Win32Error);
    // Nothing but this program can write in the private work folder, so the
    // member is where its path says. The handle it is checked through is
    // kept for its grants, which so reach this very file. It asks for no
    // data access, which SetupAPI's or the installer's own opens could refuse.
    CWidePathText wide;
    FILE_STANDARD_INFO standard;
    CFileHandle file;
    if (WidenPath(member, &wide))
        file.Reset(OpenItself(wide, kHeldForSecurity, kShareAll));
    if (!file.IsValid() || !GetFileInformationByHandleEx(file.Get(), FileStandardInfo, &standard, sizeof(standard)))
        return Fail(kNotExpanded, target, GetLastError(), ERROR_WRITE_FAULT);
    if (standard.Directory)
        return Fail(kNotExpanded, target, kRefusedFolder, ERROR_WRITE_FAULT);
    ULONGLONG found = static_cast<ULONGLONG>(standard.EndOfFile.QuadPart);
    if (found != m_memberSize)
        return Fail(kNotExpanded, target, kRefusedSize, ERROR_WRITE_FAULT, found);
    LONG entry = 0;
    if (!m_tree.Add(file.Release(), m_memberFolders.Deepest(), FALSE, &entry))
        return Fail(kNotExpanded, target, GetLastError(), ERROR_WRITE_FAULT);
    return NO_ERROR;
}

UINT CExpansion::OnNeedNewCabinet(const CABINET_INFO_A* next)
{
    // The payload is one self-contained cabinet; a set is not expanded.
    return Fail("next cabinet \"%s\" not expanded", next != NULL && next->CabinetFile != NULL ? next->CabinetFile : "",
                kRefusedSet, ERROR_INVALID_DATA);
}
