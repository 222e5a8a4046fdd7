#include "CleanupRegistration.h"

#include <string.h>

#include "ProductNames.h"
#include "Report.h"

static const char kRunOnceKey[] = RUNONCE_KEY;
static const char kCleanupValueName[] = CLEANUP_VALUE_NAME;
static const char kCleanupCommand9x[] = CLEANUP_COMMAND_9X;
static const char kCleanupCommandNT[] = CLEANUP_COMMAND_NT;

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
    status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), size);
    LONG closed = RegCloseKey(key);
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
    // A fresh profile may have no RunOnce key yet: the writer creates it.
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
