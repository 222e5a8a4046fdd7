#pragma once

#include <windows.h>

#include "NarrowString.h"

// The folder members are expanded into, with a trailing backslash. Set by
// ExtractPayload before the expansion; read by CabinetFileCallback.
extern CString g_extractBase;

// Writes the embedded cabinet into `workFolder` and expands all its members
// there. FALSE when the cabinet could not be written, the expansion failed,
// or any member was refused or is not on disk as the cabinet declares it.
BOOL ExtractPayload(HINSTANCE instance, const char* workFolder);

// The callback's side of one expansion. BeginExpansion forgets any earlier
// one; EndExpansion is TRUE when no member was refused and every member
// handed to SetupAPI was reported extracted and found intact.
void BeginExpansion();
BOOL EndExpansion();

UINT CALLBACK CabinetFileCallback(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2);
