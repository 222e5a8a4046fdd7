#include "WinApp.h"

CWinApp* CWinApp::s_pApp = NULL;

CWinApp::CWinApp() : m_hInstance(NULL)
{
    s_pApp = this;
}

CWinApp::~CWinApp()
{
    if (s_pApp == this)
        s_pApp = NULL;
}

CWinApp* CWinApp::GetApp()
{
    return s_pApp;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

// The framework creates no windows, so there is never a main window to keep
// the loop alive: it asks itself to quit and drains the queue once.
void CWinApp::Run()
{
    PostQuitMessage(0);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

int CWinApp::ExitInstance()
{
    return 0;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    // No "insert a disk" or "cannot find file" boxes from the system.
    SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    CWinApp* app = CWinApp::GetApp();
    if (app == NULL)
        return 0;
    app->m_hInstance = hInstance;
    if (app->InitInstance())
        app->Run();
    return app->ExitInstance();
}
