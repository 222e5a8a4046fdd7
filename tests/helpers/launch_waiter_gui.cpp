// Stand-in installer that runs until the test lets it end: it logs its
// start, waits for "launch-release" to appear beside itself, logs its end
// and exits. A time-out ends it anyway, so a broken test cannot leave it
// running for ever.
#include "launch_marks.h"

static const DWORD kPollMs = 50;
static const DWORD kSafetyMs = 60000;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    DWORD pid = GetCurrentProcessId();
    LogLine("started %lu", pid);
    char release[MAX_PATH];
    if (!BesideSelf("launch-release", release))
        return 1;
    DWORD begin = GetTickCount();
    while (GetFileAttributesA(release) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - begin > kSafetyMs) {
            LogLine("timed-out %lu", pid);
            return 1;
        }
        Sleep(kPollMs);
    }
    LogLine("ended %lu", pid);
    return 0;
}
