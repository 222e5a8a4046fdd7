#include "WebInstallerApp.h"

#include "CleanupRegistration.h"
#include "EveryoneGrant.h"
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

// Where Windows offers it (Windows 10 22H2, Windows 11), the process follows
// no junction or mount point that a non-administrator made: neither this
// program's own opens nor those SetupAPI and the shell make for it.
static void RefuseUntrustedRedirections()
{
    typedef BOOL(WINAPI * SetPolicyFn)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
    const PROCESS_MITIGATION_POLICY kRedirectionTrustPolicy = static_cast<PROCESS_MITIGATION_POLICY>(16);
    const DWORD kEnforceRedirectionTrust = 0x1;
    SetPolicyFn setPolicy = reinterpret_cast<SetPolicyFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetProcessMitigationPolicy")));
    DWORD flags = kEnforceRedirectionTrust;
    if (setPolicy != NULL)
        setPolicy(kRedirectionTrustPolicy, &flags, sizeof(flags));
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
    RefuseUntrustedRedirections();
    CWinApp::InitInstance();

    OsKind osKind = GetOsKind();
    Report(0, "WebInstaller %s, host class %d", WEB_INSTALLER_VERSION, osKind);
    if (!AcquireSingleInstanceMutex(osKind))
        return FALSE;

    // Held from its creation until the run ends; private until the payload is
    // expanded and the installer checked and held, then open to Everyone for
    // reading and running only, until the installer has ended.
    CWorkFolder workFolder;
    if (!workFolder.Locate())
        return FALSE;
    if (!RegisterCleanup(workFolder.Path(), osKind))
        return FALSE;
    if (!workFolder.Create())
        return FALSE;
    CExpandedTree expanded;
    if (!ExtractPayload(m_hInstance, workFolder.Folder(), expanded))
        return FALSE;
    TestSeam("expanded", workFolder.Path());
    CFileHandle installer(HoldPackedInstaller(m_hInstance, workFolder.Folder()));
    if (!GrantEveryoneReadAndRun(workFolder.Folder(), expanded))
        Report(GetLastError(), "work folder \"%s\" stays private while the installer runs: Everyone was not granted "
               "reading", workFolder.Path());
    if (!expanded.ShareFolders())
        Report(GetLastError(), "a member folder in \"%s\" stays held: the installer cannot rename it",
               workFolder.Path());
    TestSeam("granted-expanded", workFolder.Path());
    if (installer.IsValid())
        LaunchInstaller(workFolder.Folder(), installer);
    if (!GrantEveryoneFullAccess(workFolder.Folder(), expanded))
        Report(GetLastError(), "work folder \"%s\" keeps its private protection: Everyone was not granted access",
               workFolder.Path());
    expanded.Close();
    TestSeam("granted-full", workFolder.Path());
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
