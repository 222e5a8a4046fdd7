#include "WebInstallerApp.h"

#include "CleanupRegistration.h"
#include "FolderAccess.h"
#include "InstallerLaunch.h"
#include "NoFollow.h"
#include "PayloadExtraction.h"
#include "ProductNames.h"

CWebInstallerApp theApp;

CWebInstallerApp::CWebInstallerApp() : m_hSingleInstanceMutex(NULL) {}

CWebInstallerApp::~CWebInstallerApp() {}

// Only the system folder is searched for DLLs loaded from here on, so that a
// planted DLL beside the program or in the current folder is never picked up.
static void RestrictDllSearchPath()
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The work folder: the user's temporary folder followed by the product GUID,
// without a trailing backslash.
static BOOL BuildWorkFolderPath(CString& workFolder)
{
    char tempPath[MAX_PATH] = {0};
    DWORD length = GetTempPathA(MAX_PATH, tempPath);
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    return workFolder.Format("%s%s", tempPath, PRODUCT_GUID);
}

// A folder left by an earlier run is reused, but only a real folder: never a
// link, which would send every later write, and the grant, where it points.
// `held` keeps it open until the run ends, so that it cannot be swapped for
// a link meanwhile.
static BOOL CreateWorkFolder(const char* workFolder, CFileHandle& held)
{
    if (!CreateDirectoryA(workFolder, NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
        return FALSE;
    char finalPath[kFinalPathCapacity];
    held.Reset(OpenRealFolder(workFolder, NULL, finalPath));
    return held.IsValid();
}

// The handle is kept even when another copy owns the name, so that
// ExitInstance closes it on that road as well.
BOOL CWebInstallerApp::AcquireSingleInstanceMutex(OsKind osKind)
{
    const char* name = osKind == kOsKindNT4 ? MUTEX_NAME_LOCAL : MUTEX_NAME_GLOBAL;
    m_hSingleInstanceMutex = CreateMutexA(NULL, TRUE, name);
    DWORD error = GetLastError();
    return m_hSingleInstanceMutex != NULL && error != ERROR_ALREADY_EXISTS;
}

BOOL CWebInstallerApp::InitInstance()
{
    RestrictDllSearchPath();
    CWinApp::InitInstance();

    OsKind osKind = GetOsKind();
    if (!AcquireSingleInstanceMutex(osKind))
        return FALSE;

    CString workFolder;
    CFileHandle workFolderHeld;
    if (!BuildWorkFolderPath(workFolder))
        return FALSE;
    if (!RegisterCleanup(workFolder, osKind))
        return FALSE;
    if (!CreateWorkFolder(workFolder, workFolderHeld))
        return FALSE;
    GrantEveryoneFullAccess(workFolder);
    if (!ExtractPayload(m_hInstance, workFolder))
        return FALSE;
    GrantEveryoneFullAccess(workFolder);
    LaunchInstaller(workFolder);
    return TRUE;
}

int CWebInstallerApp::ExitInstance()
{
    if (m_hSingleInstanceMutex != NULL) {
        CloseHandle(m_hSingleInstanceMutex);
        m_hSingleInstanceMutex = NULL;
    }
    return CWinApp::ExitInstance();
}
