#include "PayloadExtraction.h"

#include <setupapi.h>
#include <string.h>

#include "BoundedString.h"
#include "CabinetPaths.h"
#include "File.h"
#include "ProductNames.h"

CString g_extractBase;

// Set by the callback whenever it refuses a member or sees one fail. Not every
// SetupAPI stops on the callback's error replies, so the result of the
// expansion is judged by this flag as well.
static BOOL g_extractFailed = FALSE;

static UINT Fail(DWORD error, UINT reply)
{
    g_extractFailed = TRUE;
    SetLastError(error);
    return reply;
}

static UINT OnFileInCabinet(FILE_IN_CABINET_INFO_A* info)
{
    char target[MAX_PATH] = {0};
    if (!BoundedCopy(target, MAX_PATH, g_extractBase))
        return Fail(ERROR_FILENAME_EXCED_RANGE, FILEOP_ABORT);
    if (!IsSafeMemberName(info->NameInCabinet, CP_ACP))
        return Fail(ERROR_INVALID_NAME, FILEOP_ABORT);
    if (!BoundedAppend(target, MAX_PATH, info->NameInCabinet) ||
        !BoundedCopy(info->FullTargetName, MAX_PATH, target))
        return Fail(ERROR_FILENAME_EXCED_RANGE, FILEOP_ABORT);

    // Keep the member's folder, with its trailing backslash. A safe name
    // leaves at least the backslash that ends the base, once one is set.
    const char* lastBackslash = FindLastBackslash(target, CP_ACP);
    if (lastBackslash == NULL)
        return Fail(ERROR_PATH_NOT_FOUND, FILEOP_ABORT);
    target[lastBackslash - target + 1] = '\0';

    if (CreateDirectoryA(target, NULL) || GetFileAttributesA(target) != INVALID_FILE_ATTRIBUTES)
        return FILEOP_DOIT;
    CreateFolderLevels(target, g_extractBase.GetLength(), CP_ACP);
    return FILEOP_DOIT;
}

UINT CALLBACK CabinetFileCallback(PVOID, UINT notification, UINT_PTR param1, UINT_PTR)
{
    switch (notification) {
    case SPFILENOTIFY_FILEINCABINET:
        return OnFileInCabinet(reinterpret_cast<FILE_IN_CABINET_INFO_A*>(param1));
    case SPFILENOTIFY_FILEEXTRACTED: {
        const FILEPATHS_A* paths = reinterpret_cast<const FILEPATHS_A*>(param1);
        if (paths->Win32Error != NO_ERROR)
            return Fail(paths->Win32Error, paths->Win32Error);
        return NO_ERROR;
    }
    case SPFILENOTIFY_NEEDNEWCABINET:
        // The payload is one self-contained cabinet; a set is not expanded.
        return Fail(ERROR_INVALID_DATA, ERROR_INVALID_DATA);
    default:
        return NO_ERROR;
    }
}

BOOL ExtractPayload(HINSTANCE instance, const char* workFolder)
{
    CString payloadPath;
    if (!payloadPath.Format("%s%s%s", workFolder, "\\", PAYLOAD_FILE_NAME))
        return FALSE;

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

    CFile payload;
    if (!payload.Create(payloadPath))
        return FALSE;
    try {
        payload.Write(data, size);
    } catch (const CFileException&) {
        payload.Close();
        return FALSE;
    }
    if (!payload.Close())
        return FALSE;

    if (!g_extractBase.Format("%s\\", workFolder))
        return FALSE;
    g_extractFailed = FALSE;
    if (!SetupIterateCabinetA(payloadPath, 0, CabinetFileCallback, NULL))
        return FALSE;
    return !g_extractFailed;
}
