#pragma once

#include <windows.h>

#include "ExpandedTree.h"
#include "HeldFolder.h"
#include "NarrowString.h"

// The folder members are expanded into, with a trailing backslash. Set by
// ExtractPayload before the expansion; read by CabinetFileCallback.
extern CString g_extractBase;

// Writes the embedded cabinet into the held `workFolder`, a new folder, and
// expands all its members there; every folder and member made is added to
// `tree`, with the handle that holds it. FALSE when the cabinet could not
// be written, the expansion failed, or any member was refused or is not on
// disk as the cabinet declares it.
BOOL ExtractPayload(HINSTANCE instance, const CHeldFolder& workFolder, CExpandedTree& tree);
// The same for a caller that has only the work folder's path: it is held
// first, as a real folder.
BOOL ExtractPayload(HINSTANCE instance, const char* workFolder);

// The SetupAPI file callback of the expansion: `context` is the expansion's
// CExpansion.
UINT CALLBACK CabinetFileCallback(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2);
