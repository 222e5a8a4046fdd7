/* The least that any bootstrapper of this kind does, as one process: write
   the cabinet from a mapping into a new folder, expand it there with
   extrac32, start a program and wait for it. The bench has it start the
   installer just expanded, the program that the bootstrapper starts.

     floor.exe <cabinet> <folder> <extrac32.exe> <program.exe>

   Exit code 0 when every step succeeded, else the number of the step. */
#include <windows.h>
#include <stdio.h>

static int run(const char *commandLine)
{
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process;
    DWORD code = 1;
    char line[4 * MAX_PATH];
    lstrcpynA(line, commandLine, sizeof line);
    if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return 0;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == 0;
}

int main(int argc, char **argv)
{
    char target[MAX_PATH], line[4 * MAX_PATH];
    HANDLE file, mapping, out;
    const void *view;
    DWORD size, written;
    if (argc != 5)
        return 1;
    if (!CreateDirectoryA(argv[2], NULL))
        return 2;
    file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    size = GetFileSize(file, NULL);
    mapping = CreateFileMappingA(file, NULL, PAGE_READONLY, 0, 0, NULL);
    view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : NULL;
    if (!view)
        return 4;
    snprintf(target, sizeof target, "%s\\CDInst.cab", argv[2]);
    out = CreateFileA(target, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (out == INVALID_HANDLE_VALUE || !WriteFile(out, view, size, &written, NULL) || written != size)
        return 5;
    CloseHandle(out);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    CloseHandle(file);
    snprintf(line, sizeof line, "\"%s\" /L \"%s\" /E \"%s\"", argv[3], argv[2], target);
    if (!run(line))
        return 6;
    snprintf(line, sizeof line, "\"%s\"", argv[4]);
    if (!run(line))
        return 7;
    return 0;
}
