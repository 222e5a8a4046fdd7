#include "Attacker.h"

#include <stdio.h>
#include <string.h>

#include "Handle.h"
#include "ProductNames.h"

// The moves of another local user on the work folder, made in the run's own
// process when it reaches a seam. This process may do anything; another
// account on Windows may do only what the objects' DACLs grant a standard
// user, so each move first asks for that (StandardUserGrants). Each says on
// the debugger channel what came of it: "seam: <point>:<action> done",
// "... blocked: denied by its DACL" (no standard user may make it there),
// "... blocked: error <n>" (the system refused it, which is a defence
// holding), or "... absent" (what it acts on is not there at that point).
// Links lead beside the temporary folder, to the folder "outside" or to the
// file "outside\kept.txt".
//
//   link-work            the work folder renamed away, a link in its place
//   rename-work          the work folder renamed away
//   link-folder          InstData renamed away, a link in its place
//   link-installer       the installer deleted, a link in its place
//   link-member          InstData\setup.ini deleted, a link in its place
//   hardlink-<member>    the member deleted, a hard link in its place
//   overwrite-<member>   the member's tail rewritten in place, its size kept
//   truncate-<member>    the member cut to half its size
//   delete-<member>      the member deleted
//   hold-<member>        the member opened without sharing, held to the end
//   plant-beside         a DLL and a manifest added beside the installer
//   plant-member-folder  a DLL added in InstData
//   replace-member       InstData\setup.ini renamed aside, a file of its own
//                        put in its place
//   mount-work           the work folder emptied and, while it is held, made
//                        a link in place, as a mount point is made on Windows
//   swap-cabinet         CDInst.cab replaced by another cabinet of its size
// <member> is "installer" or "member" (InstData\setup.ini). Where nothing
// stands at a link's path yet, the link is planted there. At the member
// seams a move waits for the member it concerns, or the first one inside
// its folder (a move on CDInst.cab acts at the first), and every move acts
// once.

namespace {

enum Outcome { kDone, kBlocked, kDenied, kAbsent };

struct Places {
    char work[MAX_PATH];
    char outside[MAX_PATH];
    char kept[MAX_PATH];
};

struct Move {
    const char* name;
    // Below the work folder; "" is the folder itself.
    const char* subject;
    Outcome (*act)(const char* subject, const Places& places);
};

// snprintf's count, of text that fits in `capacity` bytes.
BOOL Fits(int count, int capacity = MAX_PATH)
{
    return count >= 0 && count < capacity;
}

BOOL FindPlaces(Places* places)
{
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, temp);
    if (length < 2 || length >= MAX_PATH)
        return FALSE;
    temp[length - 1] = '\0';
    char* parentEnd = strrchr(temp, '\\');
    if (parentEnd == NULL || !Fits(snprintf(places->work, MAX_PATH, "%s\\%s", temp, PRODUCT_GUID)))
        return FALSE;
    *parentEnd = '\0';
    return Fits(snprintf(places->outside, MAX_PATH, "%s\\outside", temp)) &&
           Fits(snprintf(places->kept, MAX_PATH, "%s\\kept.txt", places->outside));
}

typedef char*(__cdecl* UnixNameFn)(const WCHAR*);
typedef WCHAR*(__cdecl* DosNameFn)(const char*);

// "sh -c" and `script` as one argument, as a Windows command line spells it.
BOOL QuoteForCommandLine(const char* script, char* command, int capacity)
{
    int at = snprintf(command, capacity, "sh -c \"");
    for (const char* c = script; *c != '\0' && at + 4 < capacity; ++c) {
        if (*c == '"')
            command[at++] = '\\';
        command[at++] = *c;
    }
    if (at + 2 >= capacity)
        return FALSE;
    command[at++] = '"';
    command[at] = '\0';
    return TRUE;
}

}  // namespace

// Wine starts a Unix program as any other, but without a process handle to
// wait on, so what it makes is waited for.
BOOL RunUnixScript(const char* format, const char* windowsPath, const char* awaited)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    UnixNameFn unixName =
        reinterpret_cast<UnixNameFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
    DosNameFn dosName =
        reinterpret_cast<DosNameFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_dos_file_name")));
    if (unixName == NULL || dosName == NULL)
        return FALSE;
    WCHAR widePath[MAX_PATH];
    WCHAR wideAwaited[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, windowsPath, -1, widePath, MAX_PATH) ||
        !MultiByteToWideChar(CP_ACP, 0, awaited, -1, wideAwaited, MAX_PATH))
        return FALSE;
    char* unixPath = unixName(widePath);
    char* unixAwaited = unixName(wideAwaited);
    WCHAR* shell = dosName("/bin/sh");
    const int kCommandCapacity = 4 * MAX_PATH;
    char script[kCommandCapacity];
    char command[kCommandCapacity];
    WCHAR wideCommand[kCommandCapacity];
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    BOOL made = unixPath != NULL && unixAwaited != NULL && shell != NULL &&
                Fits(snprintf(script, kCommandCapacity, format, unixPath, unixAwaited), kCommandCapacity) &&
                QuoteForCommandLine(script, command, kCommandCapacity) &&
                MultiByteToWideChar(CP_UTF8, 0, command, -1, wideCommand, kCommandCapacity) &&
                CreateProcessW(shell, wideCommand, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
    HeapFree(GetProcessHeap(), 0, unixPath);
    HeapFree(GetProcessHeap(), 0, unixAwaited);
    HeapFree(GetProcessHeap(), 0, shell);
    for (DWORD begin = GetTickCount(); made && GetFileAttributesA(awaited) == INVALID_FILE_ATTRIBUTES; Sleep(5))
        made = GetTickCount() - begin < 10000;
    return made;
}

namespace {

// Wine shows a Unix symbolic link as a link, and makes none itself
// (CreateSymbolicLink does nothing there): the Unix ln makes it. Its target
// always exists.
void MakeLink(const char* target, const char* link)
{
    if (!RunUnixScript("ln -s \"%s\" \"%s\"", target, link))
        ExitProcess(3);
}

BOOL MoveAway(const char* path)
{
    char away[MAX_PATH];
    return Fits(snprintf(away, MAX_PATH, "%s.away", path)) && MoveFileExA(path, away, 0);
}

// The folder `path` lies in, into `folder`.
BOOL ParentOf(const char* path, char* folder)
{
    const char* last = strrchr(path, '\\');
    if (last == NULL || last - path >= MAX_PATH)
        return FALSE;
    memcpy(folder, path, last - path);
    folder[last - path] = '\0';
    return TRUE;
}

// What the DACL of `path`, as the platform reports it, grants a standard
// user: Everyone, Users, Authenticated Users, Interactive.
ACCESS_MASK DaclGrants(const char* path)
{
    BYTE descriptor[8192];
    DWORD needed = 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = NULL;
    if (!GetFileSecurityA(path, DACL_SECURITY_INFORMATION, descriptor, sizeof(descriptor), &needed) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        return 0;
    if (!present || dacl == NULL)
        return FILE_ALL_ACCESS;
    const WELL_KNOWN_SID_TYPE kStandardUser[] = {WinWorldSid, WinBuiltinUsersSid, WinAuthenticatedUserSid,
                                                 WinInteractiveSid};
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    ACCESS_MASK allowed = 0;
    ACCESS_MASK denied = 0;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = NULL;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || (ace->Header.AceFlags & INHERIT_ONLY_ACE) ||
            (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE && ace->Header.AceType != ACCESS_DENIED_ACE_TYPE))
            continue;
        BOOL standard = FALSE;
        for (WELL_KNOWN_SID_TYPE type : kStandardUser)
            standard = standard || IsWellKnownSid(&ace->SidStart, type);
        if (!standard)
            continue;
        ACCESS_MASK mask = ace->Mask;
        MapGenericMask(&mask, &mapping);
        if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE)
            allowed |= mask & ~denied;
        else
            denied |= mask & ~allowed;
    }
    return allowed;
}

// What a standard user may do to `path` on Windows. There an object made in
// the work folder inherits its protection from the folders above it; the
// platform here shows no inheritance, so below the work folder an object
// grants no more than each folder from the work folder down to it.
BOOL StandardUserGrants(const char* path, ACCESS_MASK wanted, const Places& places)
{
    ACCESS_MASK granted = DaclGrants(path);
    size_t workLength = strlen(places.work);
    char folder[MAX_PATH];
    if (_strnicmp(path, places.work, workLength) == 0 && path[workLength] == '\\' && ParentOf(path, folder)) {
        for (;;) {
            granted &= DaclGrants(folder);
            if (strlen(folder) <= workLength || !ParentOf(folder, folder))
                break;
        }
    }
    return (granted & wanted) != 0;
}

// Deleting or renaming needs DELETE on the object or FILE_DELETE_CHILD on
// its folder; a new name needs FILE_ADD_FILE (or FILE_ADD_SUBDIRECTORY).
BOOL MayRemove(const char* path, const Places& places)
{
    char folder[MAX_PATH];
    return StandardUserGrants(path, DELETE, places) ||
           (ParentOf(path, folder) && StandardUserGrants(folder, FILE_DELETE_CHILD, places));
}

BOOL MayAddTo(const char* path, const Places& places)
{
    char folder[MAX_PATH];
    return ParentOf(path, folder) && StandardUserGrants(folder, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY, places);
}

// What stands at `path` goes (a folder is renamed away), so that a link can
// take its place; kAbsent where even its folder is missing.
Outcome Clear(const char* path, const Places& places)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() != ERROR_FILE_NOT_FOUND ? kAbsent : MayAddTo(path, places) ? kDone : kDenied;
    if (!MayRemove(path, places) || !MayAddTo(path, places))
        return kDenied;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return MoveAway(path) ? kDone : kBlocked;
    return DeleteFileA(path) ? kDone : kBlocked;
}

Outcome LinkTo(const char* path, const char* target, const Places& places)
{
    Outcome cleared = Clear(path, places);
    if (cleared == kDone)
        MakeLink(target, path);
    return cleared;
}

Outcome LinkToFolder(const char* path, const Places& places)
{
    return LinkTo(path, places.outside, places);
}

Outcome LinkToFile(const char* path, const Places& places)
{
    return LinkTo(path, places.kept, places);
}

Outcome HardLinkToFile(const char* path, const Places& places)
{
    Outcome cleared = Clear(path, places);
    if (cleared != kDone)
        return cleared;
    return CreateHardLinkA(path, places.kept, NULL) ? kDone : kBlocked;
}

BOOL Exists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

Outcome RenameAway(const char* path, const Places& places)
{
    if (!Exists(path))
        return kAbsent;
    if (!MayRemove(path, places) || !MayAddTo(path, places))
        return kDenied;
    return MoveAway(path) ? kDone : kBlocked;
}

// The installer's last bytes are section padding: rewritten, it still runs,
// but it is not the program that was packed.
Outcome Rewrite(const char* path, BOOL truncate, const Places& places)
{
    if (!Exists(path))
        return kAbsent;
    if (!StandardUserGrants(path, FILE_WRITE_DATA, places))
        return kDenied;
    CFileHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    LARGE_INTEGER size;
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size))
        return kBlocked;
    static const char kTail[] = "rewritten by another user";
    LONGLONG tail = size.QuadPart < static_cast<LONGLONG>(sizeof(kTail) - 1) ? size.QuadPart : sizeof(kTail) - 1;
    LARGE_INTEGER at;
    at.QuadPart = truncate ? size.QuadPart / 2 : size.QuadPart - tail;
    DWORD written = 0;
    if (!SetFilePointerEx(file.Get(), at, NULL, FILE_BEGIN))
        return kBlocked;
    if (truncate)
        return SetEndOfFile(file.Get()) ? kDone : kBlocked;
    return WriteFile(file.Get(), kTail, static_cast<DWORD>(tail), &written, NULL) && written == tail ? kDone : kBlocked;
}

Outcome Overwrite(const char* path, const Places& places)
{
    return Rewrite(path, FALSE, places);
}

Outcome Truncate(const char* path, const Places& places)
{
    return Rewrite(path, TRUE, places);
}

Outcome Delete(const char* path, const Places& places)
{
    if (!Exists(path))
        return kAbsent;
    if (!MayRemove(path, places))
        return kDenied;
    return DeleteFileA(path) ? kDone : kBlocked;
}

// The handle stays open until the process ends.
Outcome Hold(const char* path, const Places& places)
{
    if (!Exists(path))
        return kAbsent;
    if (!StandardUserGrants(path, FILE_READ_DATA, places))
        return kDenied;
    return CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL) != INVALID_HANDLE_VALUE
               ? kDone
               : kBlocked;
}

BOOL WriteNew(const char* folder, const char* name, const char* text)
{
    char path[MAX_PATH];
    if (!Fits(snprintf(path, MAX_PATH, "%s\\%s", folder, name)))
        return FALSE;
    CFileHandle file(CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL));
    DWORD length = static_cast<DWORD>(strlen(text));
    DWORD written = 0;
    return file.IsValid() && WriteFile(file.Get(), text, length, &written, NULL) && written == length;
}

// What the installer would load by name from its own folder: a DLL, and a
// manifest that asks for nothing unusual, so that the installer still starts.
Outcome PlantBeside(const char* work, const Places& places)
{
    if (!Exists(work))
        return kAbsent;
    if (!StandardUserGrants(work, FILE_ADD_FILE, places))
        return kDenied;
    static const char kManifest[] =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"/>\r\n";
    return WriteNew(work, "version.dll", "MZ planted beside the installer") &&
                   WriteNew(work, INSTALLER_FILE_NAME ".manifest", kManifest)
               ? kDone
               : kBlocked;
}

// What the installer, or a system DLL inside it, would load by name from a
// folder of its own.
Outcome PlantInFolder(const char* folder, const Places& places)
{
    if (!Exists(folder))
        return kAbsent;
    if (!StandardUserGrants(folder, FILE_ADD_FILE, places))
        return kDenied;
    return WriteNew(folder, "version.dll", "MZ planted in a member folder") ? kDone : kBlocked;
}

Outcome ReplaceMember(const char* path, const Places& places)
{
    if (!Exists(path))
        return kAbsent;
    if (!MayRemove(path, places) || !MayAddTo(path, places))
        return kDenied;
    char folder[MAX_PATH];
    const char* name = strrchr(path, '\\');
    if (!ParentOf(path, folder) || name == NULL || !MoveAway(path))
        return kBlocked;
    return WriteNew(folder, name + 1, "[replaced by another user]\r\n") ? kDone : kBlocked;
}

// Everything inside `folder` deleted, depth first, as another user would;
// FALSE at the first entry that cannot go, with the system's reason, or
// with `denied` set where its DACL refuses it.
BOOL EmptyAsAnotherUser(const char* folder, const Places& places, BOOL* denied)
{
    char pattern[MAX_PATH];
    WIN32_FIND_DATAA found;
    if (!Fits(snprintf(pattern, MAX_PATH, "%s\\*", folder)))
        return FALSE;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return FALSE;
    BOOL emptied = TRUE;
    do {
        char path[MAX_PATH];
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
            continue;
        if (!Fits(snprintf(path, MAX_PATH, "%s\\%s", folder, found.cFileName)) || !MayRemove(path, places))
            *denied = TRUE;
        else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            emptied = EmptyAsAnotherUser(path, places, denied) && RemoveDirectoryA(path);
        else
            emptied = DeleteFileA(path);
        emptied = emptied && !*denied;
    } while (emptied && FindNextFileA(search, &found));
    DWORD error = GetLastError();
    FindClose(search);
    SetLastError(error);
    return emptied;
}

// An empty folder becomes a mount point through a handle with
// FILE_WRITE_DATA or FILE_WRITE_ATTRIBUTES, which no sharing refuses, so
// the program's hold on the work folder does not stop it. The platform has
// no mount points: the Unix side swaps the folder for a link in place,
// which its sharing does not see either.
Outcome MountInPlace(const char* work, const Places& places)
{
    if (!Exists(work))
        return kAbsent;
    BOOL denied = !StandardUserGrants(work, FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES, places);
    if (denied || !EmptyAsAnotherUser(work, places, &denied))
        return denied ? kDenied : kBlocked;
    char aside[MAX_PATH];
    if (!Fits(snprintf(aside, MAX_PATH, "%s.mounted", work)) || !RunUnixScript("mv \"%s\" \"%s\"", work, aside))
        ExitProcess(3);
    MakeLink(places.outside, work);
    return kDone;
}

// Another cabinet of the same size: the same bytes with those in its middle
// inverted.
Outcome SwapCabinet(const char* cabinet, const Places& places)
{
    if (!Exists(cabinet))
        return kAbsent;
    if (!MayRemove(cabinet, places) || !MayAddTo(cabinet, places))
        return kDenied;
    CFileHandle file(CreateFileA(cabinet, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    LARGE_INTEGER size;
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > 64 * 1024 * 1024)
        return kBlocked;
    DWORD length = static_cast<DWORD>(size.QuadPart);
    BYTE* bytes = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, length + 1));
    DWORD read = 0;
    BOOL swapped = bytes != NULL && ReadFile(file.Get(), bytes, length, &read, NULL) && read == length;
    file.Reset(INVALID_HANDLE_VALUE);
    for (DWORD i = length / 2; swapped && i < length / 2 + 64 && i < length; ++i)
        bytes[i] = static_cast<BYTE>(~bytes[i]);
    if (swapped && DeleteFileA(cabinet)) {
        CFileHandle other(CreateFileA(cabinet, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL));
        DWORD written = 0;
        swapped = other.IsValid() && WriteFile(other.Get(), bytes, length, &written, NULL) && written == length;
    } else {
        swapped = FALSE;
    }
    if (bytes != NULL)
        HeapFree(GetProcessHeap(), 0, bytes);
    return swapped ? kDone : kBlocked;
}

#define MEMBER "InstData\\setup.ini"

const Move kMoves[] = {
    {"link-work", "", LinkToFolder},
    {"rename-work", "", RenameAway},
    {"link-folder", "InstData", LinkToFolder},
    {"link-installer", INSTALLER_FILE_NAME, LinkToFile},
    {"link-member", MEMBER, LinkToFile},
    {"hardlink-installer", INSTALLER_FILE_NAME, HardLinkToFile},
    {"hardlink-member", MEMBER, HardLinkToFile},
    {"overwrite-installer", INSTALLER_FILE_NAME, Overwrite},
    {"overwrite-member", MEMBER, Overwrite},
    {"truncate-installer", INSTALLER_FILE_NAME, Truncate},
    {"truncate-member", MEMBER, Truncate},
    {"delete-installer", INSTALLER_FILE_NAME, Delete},
    {"delete-member", MEMBER, Delete},
    {"hold-installer", INSTALLER_FILE_NAME, Hold},
    {"hold-member", MEMBER, Hold},
    {"plant-beside", "", PlantBeside},
    {"plant-member-folder", "InstData", PlantInFolder},
    {"replace-member", MEMBER, ReplaceMember},
    {"mount-work", "", MountInPlace},
    {"swap-cabinet", PAYLOAD_FILE_NAME, SwapCabinet},
};

BOOL IsAtOrBelow(const char* path, const char* folder)
{
    size_t length = strlen(folder);
    return _strnicmp(path, folder, length) == 0 && (path[length] == '\0' || path[length] == '\\');
}

}  // namespace

BOOL Attack(const char* point, const char* action, const char* path)
{
    const Move* move = NULL;
    for (size_t i = 0; i < sizeof(kMoves) / sizeof(kMoves[0]) && move == NULL; ++i) {
        if (strcmp(kMoves[i].name, action) == 0)
            move = &kMoves[i];
    }
    if (move == NULL)
        return FALSE;
    Places places;
    char subject[MAX_PATH];
    if (!FindPlaces(&places) ||
        !Fits(snprintf(subject, MAX_PATH, *move->subject ? "%s\\%s" : "%s%s", places.work, move->subject)))
        ExitProcess(3);
    static BOOL s_acted = FALSE;
    const BOOL concernsMembers = strcmp(move->subject, PAYLOAD_FILE_NAME) != 0;
    if (s_acted || (strncmp(point, "member-", 7) == 0 && concernsMembers && !IsAtOrBelow(path, subject)))
        return TRUE;
    s_acted = TRUE;
    Outcome outcome = move->act(subject, places);
    DWORD error = GetLastError();
    char line[MAX_PATH];
    if (outcome == kBlocked)
        snprintf(line, sizeof(line), "seam: %s:%s blocked: error %lu\n", point, action, error);
    else if (outcome == kDenied)
        snprintf(line, sizeof(line), "seam: %s:%s blocked: denied by its DACL\n", point, action);
    else
        snprintf(line, sizeof(line), "seam: %s:%s %s\n", point, action, outcome == kDone ? "done" : "absent");
    OutputDebugStringA(line);
    return TRUE;
}
