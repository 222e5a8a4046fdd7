#include "PayloadExtraction.h"

#include <setupapi.h>
#include <string.h>

#include <type_traits>

#include "BoundedString.h"
#include "CabinetPaths.h"
#include "Diagnostics.h"
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
    WCHAR memberFinal[kFinalPathCapacity];
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
    if (!g_expansion.failed && g_expansion.memberPending)
        Report(0, "member \"%s\" was never reported extracted", g_expansion.memberTarget);
    return !g_expansion.failed && !g_expansion.memberPending;
}

// Only the first failure of an expansion is reported: what follows is its
// consequence. `what` names `object` with one %s.
static UINT Fail(const char* what, const char* object, DWORD error, UINT reply)
{
    if (!g_expansion.failed) {
        WIN32_FILE_ATTRIBUTE_DATA found;
        if (error == kRefusedSize && GetFileAttributesExA(object, GetFileExInfoStandard, &found))
            Report(0, "member \"%s\" is %I64u bytes on disk, the cabinet says %lu", object,
                   (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow, g_expansion.memberSize);
        else
            Report(error, what, object);
    }
    g_expansion.failed = TRUE;
    g_expansion.memberFolders.Release();
    SetLastError(error);
    return reply;
}

static const char kNotExpanded[] = "member \"%s\" not expanded";

static UINT Refuse(const char* member, DWORD error)
{
    // The reason comes first where the name itself may be long.
    return Fail(error == ERROR_FILENAME_EXCED_RANGE ? "target path longer than 259 bytes for member \"%s\"" : kNotExpanded,
                member, error, FILEOP_ABORT);
}

static UINT OnFileInCabinet(FILE_IN_CABINET_INFO_A* info)
{
    const char* name = info->NameInCabinet;
    if (g_expansion.memberPending)
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
    if (!g_expansion.memberFolders.Open(folder, g_extractBase.GetLength(), CP_ACP))
        return Refuse(name, GetLastError());

    // The member is written into a new file: nothing of an earlier run's
    // file survives, and a link there is never written through.
    WCHAR* expectedFinal = g_expansion.memberFinal;
    if (!JoinFinalPath(expectedFinal, g_expansion.memberFolders.FinalPath(), lastBackslash + 1))
        return Refuse(name, ERROR_FILENAME_EXCED_RANGE);
    if (!RemoveLeftover(target, expectedFinal))
        return Refuse(name, GetLastError());

    if (!BoundedCopy(info->FullTargetName, MAX_PATH, target))
        return Refuse(name, ERROR_FILENAME_EXCED_RANGE);
    memcpy(g_expansion.memberTarget, target, sizeof(target));
    g_expansion.memberSize = info->FileSize;
    g_expansion.memberPending = TRUE;
    return FILEOP_DOIT;
}

static UINT OnFileExtracted(const FILEPATHS_A* paths)
{
    const char* target = paths->Target != NULL ? paths->Target : "";
    if (!g_expansion.memberPending || lstrcmpiA(target, g_expansion.memberTarget) != 0)
        return Fail(kNotExpanded, target, kRefusedOrder, ERROR_INVALID_DATA);
    g_expansion.memberPending = FALSE;
    if (paths->Win32Error != NO_ERROR)
        return Fail(kNotExpanded, target, paths->Win32Error, paths->Win32Error);
    if (!IsIntactFile(g_expansion.memberTarget, g_expansion.memberFinal, g_expansion.memberSize))
        return Fail(kNotExpanded, target, GetLastError(), ERROR_WRITE_FAULT);
    return NO_ERROR;
}

UINT CALLBACK CabinetFileCallback(PVOID, UINT notification, UINT_PTR param1, UINT_PTR)
{
    switch (notification) {
    case SPFILENOTIFY_FILEINCABINET:
        return OnFileInCabinet(reinterpret_cast<FILE_IN_CABINET_INFO_A*>(param1));
    case SPFILENOTIFY_FILEEXTRACTED:
        return OnFileExtracted(reinterpret_cast<const FILEPATHS_A*>(param1));
    case SPFILENOTIFY_NEEDNEWCABINET: {
        // The payload is one self-contained cabinet; a set is not expanded.
        const CABINET_INFO_A* next = reinterpret_cast<const CABINET_INFO_A*>(param1);
        return Fail("next cabinet \"%s\" not expanded", next != NULL && next->CabinetFile != NULL ? next->CabinetFile : "",
                    kRefusedSet, ERROR_INVALID_DATA);
    }
    default:
        return NO_ERROR;
    }
}

// Writes the embedded cabinet to `payloadPath`, a new file in the work folder
// whose final path must be `payloadFinal`.
static BOOL WritePayloadFile(HINSTANCE instance, const char* payloadPath, const WCHAR* payloadFinal)
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
    if (!payload.Create(payloadPath)) {
        Report(GetLastError(), "payload file \"%s\" cannot be created", payloadPath);
        return FALSE;
    }
    try {
        payload.Write(data, size);
    } catch (const CFileException& e) {
        payload.Close();
        Report(e.m_error, "payload file \"%s\" cannot be written", payloadPath);
        return FALSE;
    }
    BOOL closed = payload.Close();
    TestSeam("payload-written", payloadPath);
    if (!closed || !IsIntactFile(payloadPath, payloadFinal, size)) {
        Report(GetLastError(), "payload file \"%s\" is not as written", payloadPath);
        return FALSE;
    }
    return TRUE;
}

BOOL ExtractPayload(HINSTANCE instance, const char* workFolder)
{
    CString payloadPath;
    if (!payloadPath.Format("%s%s%s", workFolder, "\\", PAYLOAD_FILE_NAME)) {
        Report(ERROR_NOT_ENOUGH_MEMORY, "payload file path in \"%s\" cannot be formed", workFolder);
        return FALSE;
    }
    // The installer finds exactly this payload beside it: nothing an earlier
    // run, or anyone else, left in the folder stays.
    WCHAR workFinal[kFinalPathCapacity];
    WCHAR payloadFinal[kFinalPathCapacity];
    CFileHandle work(OpenRealFolder(workFolder, NULL, workFinal));
    if (!work.IsValid() || !JoinFinalPath(payloadFinal, workFinal, PAYLOAD_FILE_NAME)) {
        Report(GetLastError(), "work folder \"%s\" cannot be opened for the expansion", workFolder);
        return FALSE;
    }
    TestSeam("emptying", workFolder);
    if (!RemoveFolderContents(work.Get(), workFolder, workFinal) ||
        !WritePayloadFile(instance, payloadPath, payloadFinal))
        return FALSE;

    if (!g_extractBase.Format("%s\\", workFolder)) {
        Report(ERROR_NOT_ENOUGH_MEMORY, "expansion base \"%s\\\" cannot be formed", workFolder);
        return FALSE;
    }
    BeginExpansion();
    BOOL iterated = SetupIterateCabinetA(payloadPath, 0, CabinetFileCallback, NULL);
    DWORD error = GetLastError();
    if (!EndExpansion())
        return FALSE;
    if (!iterated)
        Report(error, "cabinet \"%s\" cannot be expanded", payloadPath.GetString());
    return iterated;
}
