// Creates the named mutex, as a running copy of the bootstrapper would, and
// holds it for the given number of milliseconds. With "event", an event of
// that name stands in the way instead, so that no mutex of the name can be
// created at all.
//   holdmutex NAME MILLISECONDS [event]
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv)
{
    if (argc != 3 && !(argc == 4 && strcmp(argv[3], "event") == 0))
        return 2;
    HANDLE object = argc == 4 ? CreateEventA(NULL, TRUE, FALSE, argv[1]) : CreateMutexA(NULL, TRUE, argv[1]);
    if (object == NULL)
        return 1;
    printf("holding %s\n", argv[1]);
    fflush(stdout);
    Sleep(strtoul(argv[2], NULL, 10));
    CloseHandle(object);
    return 0;
}
