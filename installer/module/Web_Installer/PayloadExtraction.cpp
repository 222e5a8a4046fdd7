#include "PayloadExtraction.h"

#include <setupapi.h>
#include <string.h>

#include <type_traits>

#include "BoundedString.h"
#include "CabinetPaths.h"
#include "File.h"
#include "NoFollow.h"
#include "ProductNames.h"
#include "TestSeam.h"

static_assert(std::is_same<decltype(&CabinetFileCallback), PSP_FILE_CALLBACK_A>::value,
              "CabinetFileCallback must have the SetupAPI file-callback type");

CString g_extractBase;

// Not every SetupAPI stops on the callback's error replies, nor reports a
// member written short (a full disk), so the callback keeps its own account:
// each member handed out is checked on disk when reported extracted.
static struct Expansion {
    BOOL failed;
    BOOL memberPending;
    DWORD memberSize;
    char memberTarget[MAX_PATH];
    char memberFinal[kFinalPathCapacity];
    CFolderChain memberFolders;
} g_expansion;

void BeginExpansion()
{
    g_expansion.failed = FALSE;
    g_expansion.memberPending = FALSE;
    g_expansion.memberFolders.Release();
}

BOOL EndExpansion()
{
    g_expansion.memberFolders.Release();
    return !g_expansion.failed && !g_expansion.memberPending;
}

static UINT Fail(DWORD error, UINT reply)
{
    g_expansion.failed = TRUE;
    g_expansion.memberFolders.Release();
    SetLastError(error);
    return reply;
}

static UINT OnFileInCabinet(FILE_IN_CABINET_INFO_A* info)
{
    if (g_expansion.memberPending)
        return Fail(ERROR_INVALID_DATA, FILEOP_ABORT);
    char target[MAX_PATH] = {0};
    if (!BoundedCopy(target, MAX_PATH, g_extractBase))
        return Fail(ERROR_FILENAME_EXCED_RANGE, FILEOP_ABORT);
    if (!IsSafeMemberName(info->NameInCabinet, CP_ACP))
        return Fail(ERROR_INVALID_NAME, FILEOP_ABORT);
    if (!BoundedAppend(target, MAX_PATH, info->NameInCabinet))
        return Fail(ERROR_FILENAME_EXCED_RANGE, FILEOP_ABORT);

    // The member's folder, with its trailing backslash. A safe name leaves at
    // least the backslash that ends the base, once one is set.
    const char* lastBackslash = FindLastBackslash(target, CP_ACP);
    if (lastBackslash == NULL)
        return Fail(ERROR_PATH_NOT_FOUND, FILEOP_ABORT);
    char folder[MAX_PATH] = {0};
    memcpy(folder, target, static_cast<size_t>(lastBackslash - target + 1));
    if (!g_expansion.memberFolders.Open(folder, g_extractBase.GetLength(), CP_ACP))
        return Fail(ERROR_ACCESS_DENIED, FILEOP_ABORT);

    // The member is written into a new file: nothing of an earlier run's
    // file survives, and a link there is never written through.
    char* expectedFinal = g_expansion.memberFinal;
    if (!JoinFinalPath(expectedFinal, g_expansion.memberFolders.FinalPath(), lastBackslash + 1) ||
        !RemoveLeftover(target, expectedFinal))
        return Fail(ERROR_ACCESS_DENIED, FILEOP_ABORT);

    if (!BoundedCopy(info->FullTargetName, MAX_PATH, target))
        return Fail(ERROR_FILENAME_EXCED_RANGE, FILEOP_ABORT);
    memcpy(g_expansion.memberTarget, target, sizeof(target));
    g_expansion.memberSize = info->FileSize;
    g_expansion.memberPending = TRUE;
    return FILEOP_DOIT;
}

static UINT OnFileExtracted(const FILEPATHS_A* paths)
{
    if (!g_expansion.memberPending || paths->Target == NULL ||
        lstrcmpiA(paths->Target, g_expansion.memberTarget) != 0)
        return Fail(ERROR_INVALID_DATA, ERROR_INVALID_DATA);
    g_expansion.memberPending = FALSE;
    if (paths->Win32Error != NO_ERROR)
        return Fail(paths->Win32Error, paths->Win32Error);
    if (!IsIntactFile(g_expansion.memberTarget, g_expansion.memberFinal, g_expansion.memberSize))
        return Fail(ERROR_WRITE_FAULT, ERROR_WRITE_FAULT);
    return NO_ERROR;
}

UINT CALLBACK CabinetFileCallback(PVOID, UINT notification, UINT_PTR param1, UINT_PTR)
{
    switch (notification) {
    case SPFILENOTIFY_FILEINCABINET:
        return OnFileInCabinet(reinterpret_cast<FILE_IN_CABINET_INFO_A*>(param1));
    case SPFILENOTIFY_FILEEXTRACTED:
        return OnFileExtracted(reinterpret_cast<const FILEPATHS_A*>(param1));
    case SPFILENOTIFY_NEEDNEWCABINET:
        // The payload is one self-contained cabinet; a set is not expanded.
        return Fail(ERROR_INVALID_DATA, ERROR_INVALID_DATA);
    default:
        return NO_ERROR;
    }
}

// Writes the embedded cabinet to `payloadPath`, a new file in the work folder
// whose final path must be `payloadFinal`.
static BOOL WritePayloadFile(HINSTANCE instance, const char* payloadPath, const char* payloadFinal)
{
    // A missing resource is written as an empty file, which the expansion
    // then rejects as not a cabinet.
    const void* data = NULL;
    DWORD size = 0;
    HRSRC resource = FindResourceA(instance, MAKEINTRESOURCEA(PAYLOAD_RESOURCE_NAME),
                                   MAKEINTRESOURCEA(PAYLOAD_RESOURCE_TYPE));
    if (resource != NULL) {
        data = LockResource(LoadResource(instance, resource));
        if (data != NULL)
            size = SizeofResource(instance, resource);
    }

    TestSeam("payload-creating", payloadPath);
    CFile payload;
    if (!payload.Create(payloadPath))
        return FALSE;
    try {
        payload.Write(data, size);
    } catch (const CFileException&) {
        payload.Close();
        return FALSE;
    }
    BOOL closed = payload.Close();
    TestSeam("payload-written", payloadPath);
    return closed && IsIntactFile(payloadPath, payloadFinal, size);
}

BOOL ExtractPayload(HINSTANCE instance, const char* workFolder)
{
    CString payloadPath;
    if (!payloadPath.Format("%s%s%s", workFolder, "\\", PAYLOAD_FILE_NAME))
        return FALSE;
    // The installer finds exactly this payload beside it: nothing an earlier
    // run, or anyone else, left in the folder stays.
    char workFinal[kFinalPathCapacity];
    char payloadFinal[kFinalPathCapacity];
    CFileHandle work(OpenRealFolder(workFolder, NULL, workFinal));
    if (!work.IsValid() || !RemoveFolderContents(work.Get(), workFolder, workFinal) ||
        !JoinFinalPath(payloadFinal, workFinal, PAYLOAD_FILE_NAME) ||
        !WritePayloadFile(instance, payloadPath, payloadFinal))
        return FALSE;

    if (!g_extractBase.Format("%s\\", workFolder))
        return FALSE;
    BeginExpansion();
    BOOL iterated = SetupIterateCabinetA(payloadPath, 0, CabinetFileCallback, NULL);
    return EndExpansion() && iterated;
}
