#include "PayloadExtraction.h"

#include <setupapi.h>
#include <string.h>

#include <type_traits>

#include "Expansion.h"
#include "File.h"
#include "Handle.h"
#include "NoFollow.h"
#include "ProductNames.h"
#include "Refusals.h"
#include "Report.h"
#include "TestSeam.h"

static_assert(std::is_same<decltype(&CabinetFileCallback), PSP_FILE_CALLBACK_A>::value,
              "CabinetFileCallback must have the SetupAPI file-callback type");

CString g_extractBase;

UINT CALLBACK CabinetFileCallback(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR)
{
    CExpansion* expansion = static_cast<CExpansion*>(context);
    switch (notification) {
    case SPFILENOTIFY_FILEINCABINET:
        return expansion->OnFileInCabinet(reinterpret_cast<FILE_IN_CABINET_INFO_A*>(param1), g_extractBase);
    case SPFILENOTIFY_FILEEXTRACTED:
        return expansion->OnFileExtracted(reinterpret_cast<const FILEPATHS_A*>(param1));
    case SPFILENOTIFY_NEEDNEWCABINET:
        return expansion->OnNeedNewCabinet(reinterpret_cast<const CABINET_INFO_A*>(param1));
    default:
        return NO_ERROR;
    }
}

// TRUE when `path` is a regular file, not a link, of exactly `size` bytes
// (kRefusedSize otherwise), whose final path is `expectedFinal`. `found`
// receives the size it has, once it is known to be such a file.
static BOOL IsIntactFile(const char* path, const WCHAR* expectedFinal, DWORD size, ULONGLONG* found)
{
    CWidePathText wide;
    if (!WidenPath(path, &wide))
        return FALSE;
    CFileHandle file(OpenItself(wide, FILE_READ_ATTRIBUTES, kShareAll));
    if (!file.IsValid() || !IsRegularFileAt(file.Get(), expectedFinal, found))
        return FALSE;
    if (*found != size)
        SetLastError(kRefusedSize);
    return *found == size;
}

// Writes the embedded cabinet to `payload`, a new file in the work folder.
static BOOL WritePayloadFile(HINSTANCE instance, const CChildPath& payload)
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

    const char* path = payload.Path();
    TestSeam("payload-creating", path);
    CFile file;
    if (!file.Create(path)) {
        Report(GetLastError(), "payload file \"%s\" cannot be created", path);
        return FALSE;
    }
    TestSeam("payload-created", path);
    try {
        file.Write(data, size);
    } catch (const CFileException& e) {
        file.Close();
        Report(e.m_error, "payload file \"%s\" cannot be written", path);
        return FALSE;
    }
    BOOL closed = file.Close();
    TestSeam("payload-written", path);
    ULONGLONG found = 0;
    if (!closed || !IsIntactFile(path, payload.FinalPath(), size, &found)) {
        Report(GetLastError(), "payload file \"%s\" is not as written", path);
        return FALSE;
    }
    return TRUE;
}

BOOL ExtractPayload(HINSTANCE instance, const CHeldFolder& workFolder, CExpandedTree& tree)
{
    const char* work = workFolder.Path();
    CChildPath payload;
    if (!workFolder.Child(PAYLOAD_FILE_NAME, &payload)) {
        Report(GetLastError(), "payload file path in \"%s\" cannot be formed", work);
        return FALSE;
    }
    if (!WritePayloadFile(instance, payload))
        return FALSE;

    if (!g_extractBase.Format("%s\\", work)) {
        Report(ERROR_NOT_ENOUGH_MEMORY, "expansion base \"%s\\\" cannot be formed", work);
        return FALSE;
    }
    CExpansion expansion(workFolder, tree);
    BOOL iterated = SetupIterateCabinetA(payload.Path(), 0, CabinetFileCallback, &expansion);
    DWORD error = GetLastError();
    if (!expansion.Finish())
        return FALSE;
    if (!iterated) {
        Report(error, "cabinet \"%s\" cannot be expanded", payload.Path());
        return FALSE;
    }
    // The cabinet stays beside the members and is granted with them.
    CWidePathText wide;
    LONG entry = 0;
    if (!WidenPath(payload.Path(), &wide) ||
        !tree.Add(OpenItself(wide, kHeldForSecurity, kShareAll), kTreeRoot, FALSE, &entry)) {
        Report(GetLastError(), "payload file \"%s\" cannot be opened for its grant", payload.Path());
        return FALSE;
    }
    return TRUE;
}

BOOL ExtractPayload(HINSTANCE instance, const char* workFolder)
{
    CHeldFolder work;
    if (!work.OpenReal(workFolder, NULL)) {
        Report(GetLastError(), "work folder \"%s\" cannot be opened for the expansion", workFolder);
        return FALSE;
    }
    CExpandedTree tree;
    return ExtractPayload(instance, work, tree);
}
