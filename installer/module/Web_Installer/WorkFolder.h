#pragma once

#include <windows.h>

#include "HeldFolder.h"
#include "NarrowString.h"
#include "PathText.h"

// The run's work folder: the product GUID in the user's temporary folder.
// From Create on, the temporary folder and the work folder are both held
// open without delete sharing until the object goes, so that neither can be
// removed, renamed or swapped for a link while the run uses them.
class CWorkFolder {
public:
    CWorkFolder() {}

    // The path: the temporary folder as GetTempPath2A (where the system has
    // it) or GetTempPathA names it, then the GUID.
    BOOL Locate();

    // Creates the folder, or takes the one an earlier run left. FALSE unless
    // it is a real folder, lies directly in the temporary folder wherever
    // that really is, and is owned by the user, Administrators or SYSTEM.
    BOOL Create();

    const char* Path() const { return m_path; }
    // The work folder as Create checked and holds it, with its final path.
    const CHeldFolder& Folder() const { return m_folder; }

private:
    CWorkFolder(const CWorkFolder&);
    CWorkFolder& operator=(const CWorkFolder&);

    CPathText m_tempPath;
    CString m_path;
    CHeldFolder m_temp;
    CHeldFolder m_folder;
};
