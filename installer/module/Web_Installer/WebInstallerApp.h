#pragma once

#include "WinApp.h"
#include "HostClassification.h"
#include "NarrowString.h"

class CWebInstallerApp : public CWinApp {
public:
    CWebInstallerApp();
    virtual ~CWebInstallerApp();

    // The whole job, in one pass. TRUE when the run reached the installer
    // launch, FALSE when a step failed or another copy is running.
    virtual BOOL InitInstance();
    virtual int ExitInstance();

private:
    BOOL AcquireSingleInstanceMutex(OsKind osKind);

    HANDLE m_hSingleInstanceMutex;
};
