#pragma once

#include <windows.h>

#include "ExpandedTree.h"
#include "HeldFolder.h"

// Gives Everyone inheritable full access to the held `workFolder`, and to
// everything in `tree` the entry it inherits from that, as if it had been
// made in the folder after the grant; every descriptor is read and written
// through the handles held, never by path. On FALSE the work folder's DACL
// is unchanged, or everything in it up to the failure has its new one.
BOOL GrantEveryoneFullAccess(const CHeldFolder& workFolder, const CExpandedTree& tree);
// The same for the folder at `path`, held first as a real folder, and
// nothing inside it.
BOOL GrantEveryoneFullAccess(const char* path);
