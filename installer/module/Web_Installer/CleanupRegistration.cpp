#include "CleanupRegistration.h"

#include <string.h>

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
    if (m_subKey.IsEmpty())
        return FALSE;

    HKEY key = NULL;
    if (RegCreateKeyExA(m_root, m_subKey, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        NULL, &key, NULL) != ERROR_SUCCESS)
        return FALSE;

    DWORD size = static_cast<DWORD>(strlen(value) + 1);
    BYTE* data = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (data == NULL) {
        RegCloseKey(key);
        return FALSE;
    }
    memcpy(data, value, size - 1);

    BOOL stored = RegSetValueExA(key, name, 0, REG_SZ, data, size) == ERROR_SUCCESS;
    BOOL closed = RegCloseKey(key) == ERROR_SUCCESS;
    HeapFree(GetProcessHeap(), 0, data);
    return stored && closed;
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
    if (!FormatCleanupCommand(command, workFolder, osKind))
        return FALSE;
    return writer.WriteString(kCleanupValueName, command);
}
