#pragma once

#include <windows.h>

#include "HostClassification.h"
#include "NarrowString.h"

// Names one registry key by a predefined root and a subkey path.
class CRegistryWriter {
public:
    CRegistryWriter(HKEY root, const char* subKey);

    // Opens or creates the key and stores `value` as REG_SZ, with exactly one
    // terminating zero (its own). TRUE only when the value was stored and the key
    // closed; otherwise the last error says why.
    BOOL WriteString(const char* name, const char* value) const;

private:
    HKEY m_root;
    CString m_subKey;
};

// The command that removes `workFolder` and everything in it.
BOOL FormatCleanupCommand(CString& command, const char* workFolder, OsKind osKind);

// Stores that command under the current user's RunOnce key, so that the
// shell runs it once at the user's next logon. FALSE, reported, when it
// could not be stored.
BOOL RegisterCleanup(const char* workFolder, OsKind osKind);
