#include "PayloadExtraction.h"

#include <setupapi.h>
#include <string.h>

#include <type_traits>

#include "BoundedString.h"
#include "Expansion.h"
#include "File.h"
#include "NoFollow.h"
#include "ProductNames.h"
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
        return expansion->OnFileInCabinet(reinterpret_cast<FILE_IN_CABINET_INFO_A*>(param1));
    case SPFILENOTIFY_FILEEXTRACTED:
        return expansion->OnFileExtracted(reinterpret_cast<const FILEPATHS_A*>(param1));
    case SPFILENOTIFY_NEEDNEWCABINET:
        return expansion->OnNeedNewCabinet(reinterpret_cast<const CABINET_INFO_A*>(param1));
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
    CExpansion expansion;
    BOOL iterated = SetupIterateCabinetA(payloadPath, 0, CabinetFileCallback, &expansion);
    DWORD error = GetLastError();
    if (!expansion.Finish())
        return FALSE;
    if (!iterated)
        Report(error, "cabinet \"%s\" cannot be expanded", payloadPath.GetString());
    return iterated;
}
