#include "WebInstallerApp.h"

#include "CleanupRegistration.h"
#include "FolderAccess.h"
#include "InstallerLaunch.h"
#include "PayloadExtraction.h"
#include "ProductNames.h"
#include "Report.h"
#include "TestSeam.h"
#include "WorkFolder.h"
#include "version.h"

CWebInstallerApp theApp;

CWebInstallerApp::CWebInstallerApp() : m_hSingleInstanceMutex(NULL) {}

CWebInstallerApp::~CWebInstallerApp() {}

// Only the system folder is searched for DLLs loaded from here on, so that a
// planted DLL beside the program or in the current folder is never picked up.
static void RestrictDllSearchPath()
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The handle is kept even when another copy owns the name, so that
// ExitInstance closes it on that road as well.
BOOL CWebInstallerApp::AcquireSingleInstanceMutex(OsKind osKind)
{
    const char* name = osKind == kOsKindNT4 ? MUTEX_NAME_LOCAL : MUTEX_NAME_GLOBAL;
    m_hSingleInstanceMutex = CreateMutexA(NULL, TRUE, name);
    DWORD error = GetLastError();
    if (m_hSingleInstanceMutex == NULL)
        Report(error, "single-instance mutex \"%s\" cannot be created", name);
    else if (error == ERROR_ALREADY_EXISTS)
        Report(0, "another copy is running (mutex \"%s\")", name);
    return m_hSingleInstanceMutex != NULL && error != ERROR_ALREADY_EXISTS;
}

BOOL CWebInstallerApp::InitInstance()
{
    RestrictDllSearchPath();
    CWinApp::InitInstance();

    OsKind osKind = GetOsKind();
    Report(0, "WebInstaller %s, host class %d", WEB_INSTALLER_VERSION, osKind);
    if (!AcquireSingleInstanceMutex(osKind))
        return FALSE;

    // Held from its creation until the run ends.
    CWorkFolder workFolder;
    if (!workFolder.Locate())
        return FALSE;
    if (!RegisterCleanup(workFolder.Path(), osKind))
        return FALSE;
    if (!workFolder.Create())
        return FALSE;
    GrantEveryoneFullAccess(workFolder.Path());
    TestSeam("granted-empty", workFolder.Path());
    if (!ExtractPayload(m_hInstance, workFolder.Folder()))
        return FALSE;
    TestSeam("expanded", workFolder.Path());
    GrantEveryoneFullAccess(workFolder.Path());
    TestSeam("granted-expanded", workFolder.Path());
    LaunchInstaller(workFolder.Folder());
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
