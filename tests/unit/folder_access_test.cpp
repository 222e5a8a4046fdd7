#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "EveryoneGrant.h"
#include "FolderOwner.h"
#include "PrivateFolder.h"

namespace {

const char kUser[] = "S-1-5-21-1004336348-1177238915-682003330-1001";

// A self-relative descriptor made from SDDL, freed with LocalFree.
class SddlDescriptor {
public:
    explicit SddlDescriptor(const std::string& sddl)
    {
        ok_ = ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                   &descriptor_, NULL);
    }
    ~SddlDescriptor()
    {
        if (descriptor_ != NULL)
            LocalFree(descriptor_);
    }
    SddlDescriptor(const SddlDescriptor&) = delete;
    SddlDescriptor& operator=(const SddlDescriptor&) = delete;

    bool ok() const { return ok_ != FALSE; }
    PSECURITY_DESCRIPTOR get() const { return descriptor_; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = NULL;
    BOOL ok_ = FALSE;
};

class EveryoneSid {
public:
    EveryoneSid()
    {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &sid_);
    }
    ~EveryoneSid()
    {
        if (sid_ != NULL)
            FreeSid(sid_);
    }
    EveryoneSid(const EveryoneSid&) = delete;
    EveryoneSid& operator=(const EveryoneSid&) = delete;

    PSID get() const { return sid_; }

private:
    PSID sid_ = NULL;
};

AclFunctions RealFunctions()
{
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    AclFunctions functions;
    functions.setControl = reinterpret_cast<SetSecurityDescriptorControlFn>(
        reinterpret_cast<void*>(GetProcAddress(advapi, "SetSecurityDescriptorControl")));
    functions.addAccessAllowedAceEx = reinterpret_cast<AddAccessAllowedAceExFn>(
        reinterpret_cast<void*>(GetProcAddress(advapi, "AddAccessAllowedAceEx")));
    return functions;
}

std::string DaclSddl(PSECURITY_DESCRIPTOR descriptor)
{
    char* text = NULL;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                              &text, NULL))
        return "<no SDDL>";
    std::string result(text);
    LocalFree(text);
    return result;
}

struct Grant {
    BOOL ok = FALSE;
    std::string sddl;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
};

// Runs the rewrite on a descriptor and returns what it built, as SDDL and as
// the control word of the new descriptor.
Grant Apply(PSECURITY_DESCRIPTOR old, const AclFunctions& functions, ACCESS_MASK access = kEveryoneFullAccess)
{
    EveryoneSid everyone;
    SECURITY_DESCRIPTOR built;
    PACL acl = NULL;
    Grant grant;
    grant.ok = BuildEveryoneGrant(old, everyone.get(), access, functions, &built, &acl);
    if (grant.ok) {
        grant.sddl = DaclSddl(&built);
        DWORD revision = 0;
        GetSecurityDescriptorControl(&built, &grant.control, &revision);
    }
    if (acl != NULL)
        HeapFree(GetProcessHeap(), 0, acl);
    return grant;
}

Grant Apply(const std::string& oldSddl, ACCESS_MASK access = kEveryoneFullAccess)
{
    SddlDescriptor old(oldSddl);
    if (!old.ok()) {
        ADD_FAILURE() << "not a valid descriptor: " << oldSddl;
        return Grant();
    }
    return Apply(old.get(), RealFunctions(), access);
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

struct Case {
    const char* name;
    const char* before;
    const char* after;  // ";U)" ends an entry for the user's SID.
};

void ExpectCases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string user = std::string(";") + kUser + ")";
        Grant grant = Apply(Replace(c.before, ";U)", user));
        ASSERT_TRUE(grant.ok);
        EXPECT_EQ(Replace(c.after, ";U)", user), grant.sddl);
    }
}

TEST(WorkFolderOwner, OnlyTheUserAdministratorsOrSystem)
{
    SddlDescriptor user("O:" + std::string(kUser));
    PSID userSid = NULL;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(user.ok() && GetSecurityDescriptorOwner(user.get(), &userSid, &defaulted));
    struct Row {
        std::string sddl;
        bool trusted;
    } rows[] = {
        {"O:" + std::string(kUser), true},
        {"O:BA", true},
        {"O:SY", true},
        {"O:S-1-5-21-1004336348-1177238915-682003330-1002", false},
        {"O:WD", false},
        {"O:BU", false},
        {"D:(A;;FA;;;WD)", false},
    };
    for (const Row& row : rows) {
        SddlDescriptor descriptor(row.sddl);
        ASSERT_TRUE(descriptor.ok()) << row.sddl;
        EXPECT_EQ(row.trusted, !!HasTrustedOwner(descriptor.get(), userSid)) << row.sddl;
    }
}

TEST(FolderAccessGrant, ExplicitEveryoneEntriesAheadOfInheritedOnesAreReplaced)
{
    ExpectCases({
        {"allowed entry for Everyone", "D:(A;;FR;;;WD)(A;;FA;;;BA)", "D:(A;;FA;;;BA)(A;OICI;GA;;;WD)"},
        {"denied entry for Everyone", "D:(D;;FW;;;WD)(A;;FA;;;BA)", "D:(A;;FA;;;BA)(A;OICI;GA;;;WD)"},
        {"several, between others", "D:(A;;FA;;;SY)(D;OI;FX;;;WD)(A;;FA;;;BA)(A;OICI;GA;;;WD)(A;;FR;;;U)",
         "D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;U)(A;OICI;GA;;;WD)"},
        {"before inherited entries",
         "D:(A;OICI;FA;;;WD)(A;;FA;;;U)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)",
         "D:(A;;FA;;;U)(A;OICI;GA;;;WD)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)"},
        {"a DACL made from Unix mode bits",
         "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;U)(A;OICI;0x1200a9;;;WD)",
         "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;U)(A;OICI;GA;;;WD)"},
    });
}

TEST(FolderAccessGrant, NewEntryStandsAheadOfInheritedEntriesInTheirOrder)
{
    ExpectCases({
        {"only inherited entries", "D:(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)(D;ID;FW;;;AU)",
         "D:(A;OICI;GA;;;WD)(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)(D;ID;FW;;;AU)"},
        {"inherited entry for Everyone is kept", "D:(A;;FA;;;BA)(A;OICIID;FR;;;WD)",
         "D:(A;;FA;;;BA)(A;OICI;GA;;;WD)(A;OICIID;FR;;;WD)"},
        {"explicit entries after an inherited one are copied unchanged",
         "D:(A;;FA;;;BA)(A;ID;FR;;;SY)(A;;FR;;;WD)(D;;FW;;;WD)(A;;FA;;;U)",
         "D:(A;;FA;;;BA)(A;OICI;GA;;;WD)(A;ID;FR;;;SY)(A;;FR;;;WD)(D;;FW;;;WD)(A;;FA;;;U)"},
    });
}

TEST(FolderAccessGrant, MissingNullOrEmptyDaclBecomesTheSingleEntry)
{
    ExpectCases({
        {"NULL DACL", "D:NO_ACCESS_CONTROL", "D:(A;OICI;GA;;;WD)"},
        {"no DACL at all", "O:BA", "D:(A;OICI;GA;;;WD)"},
        {"present but empty", "D:", "D:(A;OICI;GA;;;WD)"},
    });
}

TEST(FolderAccessGrant, SecondApplicationKeepsTheShape)
{
    const char* starts[] = {
        "D:(A;;FA;;;BA)(A;OICIID;FA;;;SY)",
        "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)",
        "D:AI(A;;FA;;;BA)(A;;FR;;;WD)(A;OICIID;FA;;;SY)",
        "D:",
        "D:NO_ACCESS_CONTROL",
    };
    for (const char* start : starts) {
        SCOPED_TRACE(start);
        Grant first = Apply(start);
        ASSERT_TRUE(first.ok);
        Grant second = Apply(first.sddl);
        ASSERT_TRUE(second.ok);
        EXPECT_EQ(first.sddl, second.sddl);
        EXPECT_EQ(first.control, second.control);
    }
}

TEST(FolderAccessGrant, InheritanceControlBitsAreCarriedOver)
{
    const SECURITY_DESCRIPTOR_CONTROL kBits = SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED | SE_DACL_PROTECTED;
    struct {
        const char* dacl;
        SECURITY_DESCRIPTOR_CONTROL expected;
    } cases[] = {
        {"D:AI(A;OICIID;FA;;;SY)", SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED},
        {"D:ARAI(A;OICIID;FA;;;SY)", SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED},
        {"D:P(A;;FA;;;SY)", SE_DACL_PROTECTED},
        {"D:PAI(A;;FA;;;SY)", SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED},
        {"D:AR(A;;FA;;;SY)", 0},
        {"D:(A;;FA;;;SY)", 0},
        {"D:PAI", SE_DACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dacl);
        Grant grant = Apply(c.dacl);
        ASSERT_TRUE(grant.ok);
        EXPECT_EQ(c.expected, grant.control & kBits);
        EXPECT_TRUE(grant.control & SE_DACL_PRESENT);
        EXPECT_FALSE(grant.control & SE_DACL_DEFAULTED);
    }
}

TEST(FolderAccessGrant, NewEntryIsExactlyTheInheritableFullAccessOne)
{
    SddlDescriptor old("D:(A;;FA;;;BA)");
    ASSERT_TRUE(old.ok());
    EveryoneSid everyone;
    SECURITY_DESCRIPTOR built;
    PACL acl = NULL;
    ASSERT_TRUE(BuildEveryoneGrant(old.get(), everyone.get(), kEveryoneFullAccess, RealFunctions(), &built, &acl));

    BOOL present = FALSE;
    BOOL defaulted = TRUE;
    PACL dacl = NULL;
    ASSERT_TRUE(GetSecurityDescriptorDacl(&built, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_FALSE(defaulted);
    EXPECT_EQ(acl, dacl);
    EXPECT_EQ(ACL_REVISION, dacl->AclRevision);
    ASSERT_EQ(2, dacl->AceCount);

    ACCESS_ALLOWED_ACE* ace = NULL;
    ASSERT_TRUE(GetAce(dacl, 1, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
    EXPECT_EQ(CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE, ace->Header.AceFlags);
    EXPECT_EQ(static_cast<ACCESS_MASK>(GENERIC_ALL), ace->Mask);
    EXPECT_TRUE(EqualSid(&ace->SidStart, everyone.get()));
    HeapFree(GetProcessHeap(), 0, acl);
}

TEST(FolderAccessGrant, AclThatWouldOutgrowItsSizeFieldIsRefused)
{
    // 65532 bytes in use: one more entry does not fit the 16-bit ACL size.
    std::vector<BYTE> oldAcl(65532);
    PACL acl = reinterpret_cast<PACL>(oldAcl.data());
    ASSERT_TRUE(InitializeAcl(acl, static_cast<DWORD>(oldAcl.size()), ACL_REVISION));
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID system = NULL;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system));
    while (AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, system)) {
    }
    FreeSid(system);
    ACL_SIZE_INFORMATION info;
    ASSERT_TRUE(GetAclInformation(acl, &info, sizeof(info), AclSizeInformation));
    ASSERT_GT(info.AclBytesInUse + 20, 0xFFFFu);

    SECURITY_DESCRIPTOR old;
    ASSERT_TRUE(InitializeSecurityDescriptor(&old, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&old, TRUE, acl, FALSE));
    EXPECT_FALSE(Apply(&old, RealFunctions()).ok);
}

BOOL WINAPI FailingSetControl(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL, SECURITY_DESCRIPTOR_CONTROL)
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

BOOL WINAPI FailingAddAce(PACL, DWORD, DWORD, DWORD, PSID)
{
    SetLastError(ERROR_ALLOTTED_SPACE_EXCEEDED);
    return FALSE;
}

TEST(FolderAccessGrant, FailureOfALookedUpFunctionIsReported)
{
    AclFunctions noControl = RealFunctions();
    noControl.setControl = FailingSetControl;
    AclFunctions noAdd = RealFunctions();
    noAdd.addAccessAllowedAceEx = FailingAddAce;

    SddlDescriptor autoInherited("D:AI(A;OICIID;FA;;;SY)");
    SddlDescriptor protectedDacl("D:P(A;;FA;;;SY)");
    SddlDescriptor plain("D:(A;;FA;;;SY)");
    EXPECT_FALSE(Apply(autoInherited.get(), noControl).ok);
    EXPECT_FALSE(Apply(protectedDacl.get(), noControl).ok);
    // Without inheritance bits the control word is not touched.
    EXPECT_TRUE(Apply(plain.get(), noControl).ok);
    EXPECT_FALSE(Apply(plain.get(), noAdd).ok);
}

// The access that allowed entries for Everyone give on `path`, as the file
// system reports it.
ACCESS_MASK EveryoneAllowedAccess(const std::string& path)
{
    DWORD needed = 0;
    GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, NULL, 0, &needed);
    std::vector<BYTE> descriptor(needed);
    if (needed == 0 ||
        !GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed))
        return 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = NULL;
    if (!GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted) || !present || dacl == NULL)
        return 0;
    EveryoneSid everyone;
    ACCESS_MASK access = 0;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = NULL;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            EqualSid(&ace->SidStart, everyone.get()))
            access |= (ace->Mask & GENERIC_ALL) ? FILE_ALL_ACCESS : ace->Mask;
    }
    return access;
}

TEST(FolderAccessGrant, FileLevelGrant)
{
    char temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
    std::string folder = std::string(temp) + "folder-access-test";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL) || GetLastError() == ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(GrantEveryoneFullAccess(folder.c_str()));
    EXPECT_TRUE(GrantEveryoneFullAccess(folder.c_str()));
    // Wine keeps no DACL on disk and reports one made from the Unix mode
    // bits, so only the access Everyone ends up with is compared.
    const ACCESS_MASK kReadWriteExecuteDelete = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE |
                                                DELETE | FILE_DELETE_CHILD;
    EXPECT_EQ(kReadWriteExecuteDelete, EveryoneAllowedAccess(folder) & kReadWriteExecuteDelete);
    RemoveDirectoryA(folder.c_str());

    EXPECT_FALSE(GrantEveryoneFullAccess((folder + "\\missing").c_str()));
}

}  // namespace

namespace {

std::string Inherited(const std::string& parentSddl, BOOL folder)
{
    SddlDescriptor parent(parentSddl);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL parentAcl = NULL;
    if (!parent.ok() || !GetSecurityDescriptorDacl(parent.get(), &present, &parentAcl, &defaulted))
        return "<bad parent>";
    PACL child = NULL;
    std::string sddl = "<refused>";
    SECURITY_DESCRIPTOR descriptor;
    if (BuildInheritedDacl(present ? parentAcl : NULL, folder, &child) &&
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
        SetSecurityDescriptorDacl(&descriptor, TRUE, child, FALSE))
        sddl = DaclSddl(&descriptor);
    if (child != NULL)
        HeapFree(GetProcessHeap(), 0, child);
    return sddl;
}

TEST(InheritedDacl, WhatANewFileOrFolderInheritsFromItsFolder)
{
    const struct {
        const char* parent;
        const char* file;
        const char* folder;
    } rows[] = {
        // The work folder after the grant: generic rights mapped, and kept
        // unmapped, inherit-only, for what a folder hands further down.
        {"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;U)(A;OICI;GA;;;WD)",
         "D:(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;FA;;;U)(A;ID;FA;;;WD)",
         "D:(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;FA;;;U)(A;ID;FA;;;WD)(A;OICIIOID;GA;;;WD)"},
        // Files only, folders only without propagation, inherit-only on the
        // parent itself, and an entry handed down to nothing.
        {"D:(A;OI;FR;;;BU)(A;CINP;FR;;;AU)(D;OICIIO;GW;;;IU)(A;;FA;;;SY)",
         "D:(A;ID;FR;;;BU)(D;ID;FW;;;IU)",
         "D:(A;OIIOID;FR;;;BU)(A;ID;FR;;;AU)(D;ID;FW;;;IU)(D;OICIIOID;GW;;;IU)"},
        {"D:(A;;FA;;;SY)", "D:", "D:"},
        {"D:NO_ACCESS_CONTROL", "D:", "D:"},
    };
    const std::string user = std::string(";") + kUser + ")";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.parent);
        const std::string parent = Replace(row.parent, ";U)", user);
        EXPECT_EQ(Replace(row.file, ";U)", user), Inherited(parent, FALSE));
        EXPECT_EQ(Replace(row.folder, ";U)", user), Inherited(parent, TRUE));
    }
}

// The SACL of `descriptor`, entry by entry, as "type flags mask SID" (Wine's
// SDDL conversion leaves labels out); "none" when it has no SACL.
std::string SaclEntries(PSECURITY_DESCRIPTOR descriptor)
{
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL sacl = NULL;
    if (!GetSecurityDescriptorSacl(descriptor, &present, &sacl, &defaulted) || !present || sacl == NULL)
        return "none";
    std::string entries;
    for (DWORD i = 0; i < sacl->AceCount; ++i) {
        SYSTEM_MANDATORY_LABEL_ACE* ace = NULL;
        char* sid = NULL;
        char line[64];
        if (!GetAce(sacl, i, reinterpret_cast<void**>(&ace)) || !ConvertSidToStringSidA(&ace->SidStart, &sid))
            return "<bad entry>";
        snprintf(line, sizeof(line), "(%u %u %lu %s)", ace->Header.AceType, ace->Header.AceFlags, ace->Mask, sid);
        LocalFree(sid);
        entries += line;
    }
    return entries;
}

// Every descriptor a run stores, from the folder's creation to the end:
// private, labelled where the process runs high; read and run for Everyone
// while the installer runs; full access after it, the label taken away.
TEST(RunDescriptors, FromPrivateToReadAndRunToFullAccess)
{
    const std::string user = std::string(";") + kUser + ")";
    SddlDescriptor owner("O:" + std::string(kUser));
    PSID userSid = NULL;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(owner.ok() && GetSecurityDescriptorOwner(owner.get(), &userSid, &defaulted));
    const std::string privateDacl = Replace("D:P(A;OICI;FA;;;U)(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", ";U)", user);
    // The platform's token is an elevated administrator's, high: the run
    // labels its folder.
    EXPECT_TRUE(RunsAtHighIntegrity());
    for (BOOL labelled : {TRUE, FALSE}) {
        CPrivateDescriptor created;
        ASSERT_TRUE(BuildPrivateDescriptor(userSid, labelled, &created));
        EXPECT_EQ(privateDacl, DaclSddl(&created.descriptor));
        // A high label, no-write-up, inherited by files and folders.
        EXPECT_EQ(labelled ? "(17 3 1 S-1-16-12288)" : "none", SaclEntries(&created.descriptor));
    }

    Grant reading = Apply(privateDacl, kEveryoneReadAndRun);
    ASSERT_TRUE(reading.ok);
    EXPECT_EQ(privateDacl + "(A;OICI;0x1200a9;;;WD)", reading.sddl);
    EXPECT_EQ(SE_DACL_PROTECTED, reading.control & (SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED));
    EXPECT_EQ(Replace("D:(A;ID;FA;;;U)(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;WD)", ";U)", user),
              Inherited(reading.sddl, FALSE));
    EXPECT_EQ(Replace("D:(A;OICIID;FA;;;U)(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;WD)", ";U)", user),
              Inherited(reading.sddl, TRUE));
    // The full grant replaces the reading entry: the same DACL as if the
    // folder had been granted straight from its private one.
    Grant full = Apply(reading.sddl);
    ASSERT_TRUE(full.ok);
    EXPECT_EQ(privateDacl + "(A;OICI;GA;;;WD)", full.sddl);
    EXPECT_EQ(Apply(privateDacl).sddl, full.sddl);

    // What a member is given after the installer: its inherited DACL,
    // auto-inherited, and an empty SACL, which takes its label away.
    SddlDescriptor parent(full.sddl);
    BOOL present = FALSE;
    PACL parentAcl = NULL;
    ASSERT_TRUE(parent.ok() && GetSecurityDescriptorDacl(parent.get(), &present, &parentAcl, &defaulted));
    PACL child = NULL;
    SECURITY_DESCRIPTOR stored;
    ACL noLabel;
    ASSERT_TRUE(BuildInheritedDacl(parentAcl, FALSE, &child));
    ASSERT_TRUE(BuildInheritedDescriptor(child, RealFunctions(), &stored));
    ASSERT_TRUE(TakeLabelAway(&stored, &noLabel));
    EXPECT_EQ(Replace("D:AI(A;ID;FA;;;U)(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;FA;;;WD)", ";U)", user), DaclSddl(&stored));
    EXPECT_EQ("", SaclEntries(&stored));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(&stored, &control, &revision));
    EXPECT_EQ(SE_DACL_PRESENT | SE_DACL_AUTO_INHERITED | SE_SACL_PRESENT,
              control & (SE_DACL_PRESENT | SE_DACL_AUTO_INHERITED | SE_SACL_PRESENT | SE_DACL_PROTECTED));
    HeapFree(GetProcessHeap(), 0, child);
}

}  // namespace
