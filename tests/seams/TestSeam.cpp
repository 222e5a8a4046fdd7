#include "TestSeam.h"

#include <windows.h>
#include <string.h>

#include "NoFollow.h"

// WEB_INSTALLER_TEST_SEAM=<point>:<action> acts on `path` when the run
// passes <point>. Actions:
//   append  adds bytes at the end of the file, which keeps a cabinet
//           readable while changing its size
//   plant   creates a file there, as another program racing the run would
void TestSeam(const char* point, const char* path)
{
    char setting[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("WEB_INSTALLER_TEST_SEAM", setting, MAX_PATH);
    size_t pointLength = strlen(point);
    if (length == 0 || length >= MAX_PATH || strncmp(setting, point, pointLength) != 0 ||
        setting[pointLength] != ':')
        return;
    const char* action = setting + pointLength + 1;
    if (strcmp(action, "append") == 0) {
        CFileHandle file(CreateFileA(path, FILE_APPEND_DATA, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
        static const char kTail[] = "appended after the write";
        DWORD written = 0;
        if (file.IsValid() && WriteFile(file.Get(), kTail, sizeof(kTail), &written, NULL) && written == sizeof(kTail))
            return;
    }
    if (strcmp(action, "plant") == 0) {
        CFileHandle file(CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL));
        static const char kPlanted[] = "planted before the write";
        DWORD written = 0;
        if (file.IsValid() && WriteFile(file.Get(), kPlanted, sizeof(kPlanted) - 1, &written, NULL) &&
            written == sizeof(kPlanted) - 1)
            return;
    }
    // A seam that cannot do what the test asked must not pass for one that did.
    ExitProcess(3);
}
