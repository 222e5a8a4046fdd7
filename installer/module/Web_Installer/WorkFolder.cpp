#include "WorkFolder.h"

#include <stdio.h>
#include <wchar.h>

#include "CodePage.h"
#include "FolderOwner.h"
#include "Leftovers.h"
#include "NoFollow.h"
#include "PrivateFolder.h"
#include "ProductNames.h"
#include "Report.h"
#include "TestSeam.h"

// GetTempPath2A where kernel32 exports it (Windows 11, and Windows 10 from
// its 2025 updates): for SYSTEM a folder of its own that no other account
// can reach, for everyone else what GetTempPathA gives.
typedef DWORD(WINAPI* TempPathFn)(DWORD, LPSTR);

static TempPathFn TempPathReader()
{
    TempPathFn second = reinterpret_cast<TempPathFn>(
        reinterpret_cast<void*>(TestSeamProcedure(GetModuleHandleA("kernel32.dll"), "GetTempPath2A")));
    return second != NULL ? second : GetTempPathA;
}

BOOL CWorkFolder::Locate()
{
    TempPathFn readTempPath = TempPathReader();
    DWORD length = readTempPath(static_cast<DWORD>(m_tempPath.GetCapacity()), m_tempPath.Buffer());
    if (length == 0 || length >= m_tempPath.GetCapacity()) {
        Report(length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE,
               "temporary folder path cannot be read (%lu bytes, room for %u)", length, MAX_PATH - 1);
        m_tempPath.Clear();
        return FALSE;
    }
    CPathText path;
    if (!JoinPath(&path, m_tempPath, PRODUCT_GUID) || !m_path.Format("%s", path.Get())) {
        Report(GetLastError(), "work folder path in \"%s\" cannot be formed", m_tempPath.Get());
        return FALSE;
    }
    return TRUE;
}

// FAT and exFAT store no security: every file there shows a world
// descriptor, owned by Everyone, and there is no protection to lose, nor an
// owner to ask. The grants are still asked for, and do nothing there.
static BOOL StoresSecurity(HANDLE object)
{
    DWORD flags = 0;
    return !TestSeamVolumeFlags(object, &flags) || (flags & FILE_PERSISTENT_ACLS);
}

static BOOL KeepsSecurity(HANDLE folder, const char* path)
{
    if (StoresSecurity(folder))
        return TRUE;
    Report(0, "work folder \"%s\" is on a volume that stores no security; its owner is not checked", path);
    return FALSE;
}

// The one line for what stays of a leftover that cannot be removed.
static void ReportStays(DWORD error, const CWidePathText& stays, const char* folder)
{
    if (stays.IsEmpty()) {
        Report(error, "work folder \"%s\" cannot be emptied", folder);
        return;
    }
    char shown[MAX_PATH * 3];
    BOOL exact = NarrowExactly(CP_ACP, stays, shown, sizeof(shown));
    Report(error, "leftover \"%s\"%s in the work folder cannot be removed", shown,
           exact ? "" : " (a name the ANSI code page cannot spell)");
}

// Earlier work folders that were moved aside but could not be deleted then,
// "{GUID}.<n>" in the temporary folder. What cannot go yet stays for a later
// run; the run goes on.
static void RemoveFoldersSetAside(const CHeldFolder& temp)
{
    const size_t kGuidLength = sizeof(PRODUCT_GUID) - 1;
    CWidePathText tempWide;
    CWidePathText pattern;
    WIN32_FIND_DATAW found;
    if (!WidenPath(temp.Path(), &tempWide) || !JoinPath(&pattern, tempWide, L"" PRODUCT_GUID ".*"))
        return;
    HANDLE search = FindFirstFileExW(pattern, FindExInfoBasic, &found, FindExSearchNameMatch, NULL, 0);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        // The pattern also matches the work folder's own name, as a name
        // without an extension; that folder is dealt with apart.
        const DWORD attributes = found.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            wcslen(found.cFileName) <= kGuidLength + 1)
            continue;
        // Where other accounts may create names (SYSTEM's temporary folder
        // on older Windows), a folder one of them made is left alone at once.
        CWidePathText path;
        CFinalPath expectedFinal;
        CFinalPath finalPath;
        CWidePathText stays;
        if (!JoinPath(&path, tempWide, found.cFileName) ||
            !JoinFinalPath(&expectedFinal, temp.FinalPath(), found.cFileName))
            continue;
        CFileHandle folder(OpenRealFolder(path, expectedFinal, &finalPath, DELETE));
        if (folder.IsValid() && StoresSecurity(folder.Get()) && !IsOwnedByTrusted(folder.Get()))
            continue;
        if (!folder.IsValid() || !RemoveHeldFolderTree(folder, path, finalPath, &stays)) {
            DWORD error = GetLastError();
            char shown[MAX_PATH * 3];
            NarrowExactly(CP_ACP, stays.IsEmpty() ? path : stays, shown, sizeof(shown));
            Report(error, "earlier work folder: \"%s\" cannot be removed yet", shown);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// A work folder left by an earlier run was open to every local account,
// which may still hold handles on it, whatever its protection becomes: it
// is never used again. It is emptied in place, links removed as links, then
// moved aside to a fresh name and deleted there, all through one handle
// that does not share delete access. FALSE, when it could not be emptied or
// moved aside, ends the run.
static BOOL SetLeftoverAside(const CChildPath& work, const CHeldFolder& temp)
{
    CWidePathText path;
    if (!WidenPath(work.Path(), &path)) {
        Report(GetLastError(), "work folder path \"%s\" cannot be spelled in UTF-16", work.Path());
        return FALSE;
    }
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND)
        return TRUE;
    TestSeam("emptying", work.Path());
    CFinalPath finalPath;
    CFileHandle leftover(OpenRealFolder(path, work.FinalPath(), &finalPath, DELETE));
    if (!leftover.IsValid()) {
        Report(GetLastError(), "work folder \"%s\" refused; stopped before the grant", work.Path());
        return FALSE;
    }
    CWidePathText stays;
    if (!RemoveFolderContents(leftover.Get(), path, finalPath, &stays)) {
        ReportStays(GetLastError(), stays, work.Path());
        return FALSE;
    }
    TestSeam("emptied", work.Path());

    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    char name[64] = {0};
    CPathText aside;
    CWidePathText asideWide;
    _snprintf(name, sizeof(name) - 1, "%s.%08lX%08lX", PRODUCT_GUID, GetCurrentProcessId(), now.LowPart);
    if (!JoinPath(&aside, temp.Path(), name) || !WidenPath(aside, &asideWide) ||
        !RenameHeld(leftover.Get(), asideWide)) {
        Report(GetLastError(), "emptied work folder \"%s\" cannot be moved aside", work.Path());
        return FALSE;
    }
    if (!DeleteHeld(leftover, asideWide))
        Report(GetLastError(), "earlier work folder \"%s\" stays until a later run removes it", aside.Get());
    return TRUE;
}

BOOL CWorkFolder::Create()
{
    // The temporary folder may be reached through a link (a redirected
    // profile, a RAM disk mounted there); what counts is where it really is.
    BOOL held = m_temp.OpenResolved(m_tempPath);
    DWORD error = GetLastError();
    // Also a drive mapped or substituted only in the user's unelevated
    // session: an elevated process does not see it.
    if (!held && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
        Report(ERROR_PATH_NOT_FOUND, "temporary folder \"%s\" does not exist", m_tempPath.Get());
        return FALSE;
    }
    CChildPath work;
    if (!held || !m_temp.Child(PRODUCT_GUID, &work)) {
        Report(GetLastError(), "temporary folder \"%s\" refused; stopped before the grant", m_tempPath.Get());
        return FALSE;
    }
    TestSeam("temp-held", m_tempPath.Get());
    RemoveFoldersSetAside(m_temp);
    if (!SetLeftoverAside(work, m_temp))
        return FALSE;

    // A new folder every run, private from its creation until the launch,
    // held from that very moment.
    HANDLE created = CreatePrivateFolder(m_temp.Handle(), L"" PRODUCT_GUID, kFolderAccess | WRITE_DAC | WRITE_OWNER,
                                         kFolderSharing);
    if (created == INVALID_HANDLE_VALUE) {
        Report(GetLastError(), "work folder \"%s\" cannot be created", work.Path());
        return FALSE;
    }
    if (!m_folder.Adopt(created, work.Path(), work.FinalPath()) ||
        (KeepsSecurity(m_folder.Handle(), work.Path()) && !IsOwnedByTrusted(m_folder.Handle()))) {
        Report(GetLastError(), "work folder \"%s\" refused; stopped before the grant", work.Path());
        m_folder.Close();
        return FALSE;
    }
    TestSeam("work-held", m_folder.Path());
    return TRUE;
}
