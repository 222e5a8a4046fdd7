// Creates the named mutex, as a running copy of the bootstrapper would, and
// holds it for the given number of milliseconds.
//   holdmutex NAME MILLISECONDS
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    HANDLE mutex = CreateMutexA(NULL, TRUE, argv[1]);
    if (mutex == NULL)
        return 1;
    printf("holding %s\n", argv[1]);
    fflush(stdout);
    Sleep(strtoul(argv[2], NULL, 10));
    CloseHandle(mutex);
    return 0;
}
