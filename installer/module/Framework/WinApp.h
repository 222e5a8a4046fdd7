#pragma once

#include <windows.h>

// The application object: one global instance derived from CWinApp is
// constructed during static initialisation; the framework's WinMain then
// drives InitInstance, Run and ExitInstance in that order.
class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();

    virtual BOOL InitInstance();
    virtual void Run();
    virtual int ExitInstance();

    static CWinApp* GetApp();

    HINSTANCE m_hInstance;

private:
    CWinApp(const CWinApp&);
    CWinApp& operator=(const CWinApp&);

    static CWinApp* s_pApp;
};
