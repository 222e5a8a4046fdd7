#pragma once

#include <windows.h>

#include "HeldFolder.h"

// Removing what an earlier run, or anyone else, left in the work folder,
// without following a link and without touching anything outside.

// Removes everything inside `folder`, depth first: each file, read-only or
// not, and each link, as a link, at its expected final path (a link's own,
// not its target's); real folders once emptied. A file that another program
// still holds open after about a second, a read-only file with other names
// (hard links), or a link the platform cannot remove without touching its
// target, stays. Links are removed as
// links, never entered. Names are taken as listed, in UTF-16, whatever the
// ANSI code page can spell. FALSE as soon as an entry cannot be removed:
// `stays` names it (or the folder that could not be listed; nothing when
// the folder's own path could not be taken), and the last error says why.
BOOL RemoveFolderContents(const CHeldFolder& folder, CWidePathText* stays);
// The same for the folder `folder` is open on, at `path`, whose final path
// is `folderFinal`.
BOOL RemoveFolderContents(HANDLE folder, const WCHAR* path, const WCHAR* folderFinal, CWidePathText* stays);

// Removes the real folder at `path`, whose final path must be
// `expectedFinal`, with everything in it, as RemoveFolderContents does.
BOOL RemoveFolderTree(const WCHAR* path, const WCHAR* expectedFinal, CWidePathText* stays);
// The same for the folder `folder` holds (with DELETE, as OpenRealFolder
// opens one), at `path`, whose final path is `folderFinal`; it is closed.
BOOL RemoveHeldFolderTree(CFileHandle& folder, const WCHAR* path, const WCHAR* folderFinal, CWidePathText* stays);

// Renames the object `held` is open on (with DELETE access) to `newPath`,
// through that handle, never replacing what stands there.
BOOL RenameHeld(HANDLE held, const WCHAR* newPath);

// Deletes the object `held` is open on (with DELETE access) and closes it.
// TRUE when nothing is left at `path`.
BOOL DeleteHeld(CFileHandle& held, const WCHAR* path);
