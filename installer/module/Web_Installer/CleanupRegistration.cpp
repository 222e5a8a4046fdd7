#include "CleanupRegistration.h"

#include <string.h>

#include "Report.h"

static const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
static const char kCleanupValueName[] = "QVLMSetupImgDelete";
static const char kCleanupCommand9x[] = "command /C deltree /Y \"%s\"";
static const char kCleanupCommandNT[] = "cmd /Q /C rd /S /Q \"%s\"";

// Read, set-value and create-subkey rights.
static const REGSAM kRunOnceProbeAccess = 0x2001F;

CRegistryWriter::CRegistryWriter(HKEY root, const char* subKey)
    : m_root(root), m_subKey(subKey)
{
}

BOOL CRegistryWriter::WriteString(const char* name, const char* value) const
{
    if (m_subKey.IsEmpty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    // The registry functions return their error; it is passed on as the
    // last error, for the caller's report.
    HKEY key = NULL;
    LONG status = RegCreateKeyExA(m_root, m_subKey, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key, NULL);
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        return FALSE;
    }

    DWORD size = static_cast<DWORD>(strlen(value) + 1);
    BYTE* data = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (data == NULL) {
        RegCloseKey(key);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    memcpy(data, value, size - 1);

    status = RegSetValueExA(key, name, 0, REG_SZ, data, size);
    LONG closed = RegCloseKey(key);
    HeapFree(GetProcessHeap(), 0, data);
    if (status == ERROR_SUCCESS)
        status = closed;
    SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
}

BOOL FormatCleanupCommand(CString& command, const char* workFolder, OsKind osKind)
{
    return command.Format(osKind == kOsKindWin9x ? kCleanupCommand9x : kCleanupCommandNT, workFolder);
}

BOOL RegisterCleanup(const char* workFolder, OsKind osKind)
{
    // Make sure the RunOnce key exists; a fresh profile may not have one yet.
    // A failure here shows up again, and is reported, in WriteString.
    HKEY runOnce = NULL;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRunOnceKey, 0, kRunOnceProbeAccess, &runOnce) != ERROR_SUCCESS) {
        runOnce = NULL;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kRunOnceKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, NULL, &runOnce, NULL) != ERROR_SUCCESS)
            runOnce = NULL;
    }
    if (runOnce != NULL)
        RegCloseKey(runOnce);

    CRegistryWriter writer(HKEY_CURRENT_USER, kRunOnceKey);
    CString command;
    if (!FormatCleanupCommand(command, workFolder, osKind)) {
        Report(ERROR_NOT_ENOUGH_MEMORY, "clean-up command for \"%s\" cannot be stored", workFolder);
        return FALSE;
    }
    if (!writer.WriteString(kCleanupValueName, command)) {
        Report(GetLastError(), "clean-up command for \"%s\" cannot be stored", workFolder);
        return FALSE;
    }
    return TRUE;
}
