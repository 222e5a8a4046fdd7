#include "TestSeam.h"

#include <windows.h>
#include <sddl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "Attacker.h"
#include "Handle.h"
#include "ProductNames.h"

// WEB_INSTALLER_TEST_SEAM=<point>:<action>[;<point>:<action>]... The action
// when the run passes <point>, or NULL. For TestSeam's points, "*" is every
// point.
static const char* ActionAt(const char* point, char* setting, BOOL anyPoint = FALSE)
{
    DWORD length = GetEnvironmentVariableA("WEB_INSTALLER_TEST_SEAM", setting, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return NULL;
    size_t pointLength = strlen(point);
    for (char* entry = setting; entry != NULL;) {
        char* next = strchr(entry, ';');
        if (next != NULL)
            *next++ = '\0';
        if (anyPoint && strncmp(entry, "*:", 2) == 0)
            return entry + 2;
        if (strncmp(entry, point, pointLength) == 0 && entry[pointLength] == ':')
            return entry + pointLength + 1;
        entry = next;
    }
    return NULL;
}

// The work folder's DACL as the platform reports it, on the debugger channel.
static BOOL ShowDacl(const char* point)
{
    char work[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, work);
    if (length == 0 || length >= MAX_PATH || strlen(work) + strlen(PRODUCT_GUID) >= MAX_PATH)
        return FALSE;
    strcat(work, PRODUCT_GUID);
    BYTE descriptor[4096];
    DWORD needed = 0;
    char* text = NULL;
    if (!GetFileSecurityA(work, DACL_SECURITY_INFORMATION, descriptor, sizeof(descriptor), &needed) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                              &text, NULL))
        return FALSE;
    char line[2048];
    snprintf(line, sizeof(line), "seam: %s dacl %s\n", point, text);
    LocalFree(text);
    OutputDebugStringA(line);
    return TRUE;
}

// What an installer may do to its own files: "move-out", "rename-folder"
// and "link-out" (below), in the folder of `path`. FALSE for another action.
static BOOL InstallerMove(const char* point, const char* action, const char* path)
{
    static const struct {
        const char* action;
        const char* from;
        const char* to;
    } kMoves[] = {
        {"move-out", "%s\\InstData\\setup.ini", "%s\\..\\moved-out.ini"},
        {"rename-folder", "%s\\InstData", "%s\\InstData.renamed"},
        {"link-out", "%s\\language\\languages.txt", "%s\\..\\linked-out.txt"},
    };
    size_t move = 0;
    while (move < sizeof(kMoves) / sizeof(kMoves[0]) && strcmp(kMoves[move].action, action) != 0)
        ++move;
    if (move == sizeof(kMoves) / sizeof(kMoves[0]))
        return FALSE;
    char work[MAX_PATH];
    char from[MAX_PATH];
    char to[MAX_PATH];
    const char* last = strrchr(path, '\\');
    if (last == NULL || last - path >= MAX_PATH)
        ExitProcess(3);
    memcpy(work, path, last - path);
    work[last - path] = '\0';
    if (snprintf(from, MAX_PATH, kMoves[move].from, work) >= MAX_PATH ||
        snprintf(to, MAX_PATH, kMoves[move].to, work) >= MAX_PATH)
        ExitProcess(3);
    BOOL done = FALSE;
    if (move == 2)
        done = CreateHardLinkA(to, from, NULL);
    else
        done = MoveFileExA(from, to, 0) && (move == 0 || MoveFileExA(to, from, 0));
    if (!done)
        ExitProcess(3);
    snprintf(to, MAX_PATH, "seam: %s:%s done\n", point, action);
    OutputDebugStringA(to);
    return TRUE;
}

// Actions on `path`:
//   append  adds bytes at the end of the file, which keeps a cabinet
//           readable while changing its size
//   plant   creates a file there, as another program racing the run would
//   signal  sets the event "WebInstallerTestSeam.<point>" that a helper
//           waits on, to act at this moment of the run
//   dacl    shows the work folder's DACL: "seam: <point> dacl <SDDL>"
//   append-only  makes the folder append-only (chattr +a), so that its
//           protection can no longer change
//   move-out  as an installer moving a file of its own into place: moves
//           InstData\setup.ini from the folder of `path` to the folder
//           above, as moved-out.ini
//   rename-folder  as an installer may: renames InstData in the folder of
//           `path` to InstData.renamed and back
//   link-out  as an installer linking a file of its own into place: gives
//           language\languages.txt in the folder of `path` a second name in
//           the folder above, linked-out.txt
// and the moves of another local user (Attacker.h).
void TestSeam(const char* point, const char* path)
{
    char setting[MAX_PATH];
    const char* action = ActionAt(point, setting, TRUE);
    if (action == NULL || Attack(point, action, path))
        return;
    if (strcmp(action, "dacl") == 0 && ShowDacl(point))
        return;
    if (strcmp(action, "append-only") == 0) {
        char done[MAX_PATH];
        char said[16] = {0};
        DWORD read = 0;
        if (snprintf(done, sizeof(done), "%s.append-only", path) >= MAX_PATH ||
            !RunUnixScript("W=\"%s\"; D=\"%s\"; chattr +a \"$W\" && echo done >\"$D.new\" || "
                           "echo refused >\"$D.new\"; mv \"$D.new\" \"$D\"", path, done))
            ExitProcess(3);
        CFileHandle answer(CreateFileA(done, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, NULL));
        if (!answer.IsValid() || !ReadFile(answer.Get(), said, sizeof(said) - 1, &read, NULL))
            ExitProcess(3);
        char line[MAX_PATH];
        snprintf(line, sizeof(line), "seam: %s:append-only %s", point, said);
        OutputDebugStringA(line);
        return;
    }
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
    if (InstallerMove(point, action, path))
        return;
    if (strcmp(action, "signal") == 0) {
        char name[MAX_PATH] = "WebInstallerTestSeam.";
        strncat(name, point, sizeof(name) - strlen(name) - 1);
        HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
        BOOL set = event != NULL && SetEvent(event);
        if (event != NULL)
            CloseHandle(event);
        if (set)
            return;
    }
    // A seam that cannot do what the test asked must not pass for one that did.
    ExitProcess(3);
}

static LONG g_pieces;

// write-piece:<bytes> caps every piece of a write at that many bytes.
DWORD TestSeamPiece(DWORD piece)
{
    char setting[MAX_PATH];
    const char* action = ActionAt("write-piece", setting);
    if (action == NULL)
        return piece;
    char* end = NULL;
    unsigned long cap = strtoul(action, &end, 10);
    if (cap == 0 || *end != '\0')
        ExitProcess(3);
    ++g_pieces;
    return piece < cap ? piece : static_cast<DWORD>(cap);
}

LONG TestSeamPieces()
{
    return g_pieces;
}

static BOOL IsVolumeSeam(const char* kind)
{
    char setting[MAX_PATH];
    const char* action = ActionAt("volume", setting);
    return action != NULL && strcmp(action, kind) == 0;
}

static LONG g_finalPathAnswers;

// TRUE when the last component of `path` is the `length` bytes of `name`,
// ignoring case.
static BOOL EndsInName(const WCHAR* path, const char* name, int length)
{
    WCHAR wide[MAX_PATH];
    const WCHAR* last = wcsrchr(path, L'\\');
    int wideLength = MultiByteToWideChar(CP_ACP, 0, name, length, wide, MAX_PATH);
    return last != NULL && wideLength > 0 &&
           CompareStringOrdinal(last + 1, -1, wide, wideLength, TRUE) == CSTR_EQUAL;
}

// volume:unregistered answers as a volume without a mount-manager entry (a
// RAM disk, a mounted image) does: it has no DOS name to give.
// final-path:<name>[#<n>] answers for the object whose final path ends in
// <name> (every time, or only in its <n>-th answer) as if it lay in a folder
// "elsewhere" inside its folder: what a link or junction that the platform
// followed silently would show.
// final-path-out:<name> answers for the object whose final path ends in
// <name> as Windows does once another program has moved it out of its
// folder ("\moved-out\<name>"), which the platform keeps showing where it
// was opened.
static DWORD MovedOut(WCHAR* path, DWORD length, DWORD capacity)
{
    char setting[MAX_PATH];
    const char* name = ActionAt("final-path-out", setting);
    if (name == NULL || !EndsInName(path, name, static_cast<int>(strlen(name))))
        return length;
    WCHAR last[MAX_PATH];
    if (wcslen(wcsrchr(path, L'\\')) >= MAX_PATH)
        ExitProcess(3);
    wcscpy(last, wcsrchr(path, L'\\'));
    int written = _snwprintf(path, capacity, L"\\moved-out%ls", last);
    if (written < 0 || static_cast<DWORD>(written) >= capacity)
        ExitProcess(3);
    return static_cast<DWORD>(written);
}

DWORD TestSeamFinalPath(HANDLE file, WCHAR* path, DWORD capacity, DWORD flags)
{
    const DWORD otherNames = VOLUME_NAME_GUID | VOLUME_NAME_NT | VOLUME_NAME_NONE;
    if (IsVolumeSeam("unregistered") && (flags & otherNames) == 0) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return 0;
    }
    DWORD length = GetFinalPathNameByHandleW(file, path, capacity, flags);
    if (length > 0 && length < capacity)
        length = MovedOut(path, length, capacity);
    char setting[MAX_PATH];
    const char* name = ActionAt("final-path", setting);
    if (name == NULL || length == 0 || length >= capacity)
        return length;
    const int nameLength = static_cast<int>(strcspn(name, "#"));
    const char* answer = name[nameLength] == '#' ? name + nameLength + 1 : NULL;
    if (!EndsInName(path, name, nameLength) || (answer != NULL && ++g_finalPathAnswers != strtol(answer, NULL, 10)))
        return length;
    static const WCHAR kElsewhere[] = L"elsewhere\\";
    const DWORD inserted = sizeof(kElsewhere) / sizeof(WCHAR) - 1;
    if (length + inserted >= capacity)
        ExitProcess(3);
    WCHAR* last = wcsrchr(path, L'\\') + 1;
    memmove(last + inserted, last, (wcslen(last) + 1) * sizeof(WCHAR));
    memcpy(last, kElsewhere, inserted * sizeof(WCHAR));
    return length + inserted;
}

// volume:no-acls answers as FAT and exFAT do: no persistent security, and a
// world descriptor, owned by Everyone, for every file.
BOOL TestSeamVolumeFlags(HANDLE file, DWORD* flags)
{
    if (!GetVolumeInformationByHandleW(file, NULL, 0, NULL, NULL, flags, NULL, 0))
        return FALSE;
    if (IsVolumeSeam("no-acls"))
        *flags &= ~FILE_PERSISTENT_ACLS;
    return TRUE;
}

// owner:other answers with another local account as the owner, as after
// that account took ownership of the folder.
DWORD TestSeamOwner(HANDLE file, PSECURITY_DESCRIPTOR* descriptor)
{
    char setting[MAX_PATH];
    const char* owner = ActionAt("owner", setting);
    if (owner != NULL && strcmp(owner, "other") != 0)
        ExitProcess(3);
    const char* sddl = NULL;
    if (IsVolumeSeam("no-acls"))
        sddl = "O:WD";
    else if (owner != NULL)
        sddl = "O:S-1-5-21-1004336348-1177238915-682003330-1002";
    if (sddl == NULL)
        return GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, NULL, NULL, NULL, NULL, descriptor);
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, descriptor, NULL))
        ExitProcess(3);
    return ERROR_SUCCESS;
}

// The dispositions asked for, the last few of them kept, and the files whose
// deletion was granted, as long as the process runs. A file is known by its
// volume, index and creation time: a new file may reuse the index of one
// already gone.
const LONG kDispositionsKept = 16;
static TestSeamDispositionAsked g_dispositions[kDispositionsKept];
static LONG g_dispositionCount;
static BY_HANDLE_FILE_INFORMATION g_pending[kDispositionsKept];
static LONG g_pendingCount;

static BOOL SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow && CompareFileTime(&a.ftCreationTime, &b.ftCreationTime) == 0;
}

BOOL TestSeamDisposition(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* info, DWORD size)
{
    BOOL done = SetFileInformationByHandle(file, kind, info, size);
    DWORD error = GetLastError();
    TestSeamDispositionAsked& asked = g_dispositions[g_dispositionCount++ % kDispositionsKept];
    asked.kind = kind;
    // The classic class's DeleteFile is one byte.
    asked.flags = size >= sizeof(DWORD) ? *static_cast<const DWORD*>(info) : size == 1 ? *static_cast<BYTE*>(info) : 0;
    asked.done = done;
    BY_HANDLE_FILE_INFORMATION identity;
    if (done && (asked.flags & 1) && GetFileInformationByHandle(file, &identity))
        g_pending[g_pendingCount++ % kDispositionsKept] = identity;
    SetLastError(error);
    return done;
}

LONG TestSeamDispositions()
{
    return g_dispositionCount;
}

TestSeamDispositionAsked TestSeamDispositionAt(LONG number)
{
    TestSeamDispositionAsked none = {};
    if (number < 0 || number >= g_dispositionCount || number < g_dispositionCount - kDispositionsKept)
        return none;
    return g_dispositions[number % kDispositionsKept];
}

// pending:access-denied answers every open of a file whose deletion this
// process asked for and whose name still exists (another program holds it
// open) with ERROR_ACCESS_DENIED, as Windows does; Wine opens it.
HANDLE TestSeamOpenExisting(const WCHAR* path, DWORD access, DWORD share, DWORD flags)
{
    HANDLE file = CreateFileW(path, access, share, NULL, OPEN_EXISTING, flags, NULL);
    char setting[MAX_PATH];
    const char* action = ActionAt("pending", setting);
    if (action == NULL || file == INVALID_HANDLE_VALUE)
        return file;
    if (strcmp(action, "access-denied") != 0)
        ExitProcess(3);
    BY_HANDLE_FILE_INFORMATION identity;
    if (!GetFileInformationByHandle(file, &identity))
        ExitProcess(3);
    LONG kept = g_pendingCount < kDispositionsKept ? g_pendingCount : kDispositionsKept;
    for (LONG i = 0; i < kept; ++i) {
        if (SameFile(g_pending[i], identity)) {
            CloseHandle(file);
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
    }
    return file;
}

static char g_tempPath2[MAX_PATH];

static DWORD WINAPI SeamTempPath2(DWORD capacity, LPSTR buffer)
{
    DWORD length = static_cast<DWORD>(strlen(g_tempPath2));
    if (length >= capacity)
        return length + 1;
    memcpy(buffer, g_tempPath2, length + 1);
    return length;
}

FARPROC TestSeamProcedure(HMODULE module, const char* name)
{
    char setting[MAX_PATH];
    const char* folder = ActionAt("temp-path-2", setting);
    if (folder == NULL || strcmp(name, "GetTempPath2A") != 0)
        return GetProcAddress(module, name);
    if (snprintf(g_tempPath2, sizeof(g_tempPath2), "%s", folder) >= MAX_PATH)
        ExitProcess(3);
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(SeamTempPath2));
}
