#include "fs/secure_folder.h"

#include "shared/platform.h"

namespace {

constexpr BYTE InheritToAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr int GrantedSids = 3;

// The descriptor points into itself, so it is built in place and never copied.
struct ProtectedFolderSecurity {
    SECURITY_ATTRIBUTES attributes{};
    SECURITY_DESCRIPTOR descriptor{};
    DWORD sids[GrantedSids][SECURITY_MAX_SID_SIZE / sizeof(DWORD)]{};
    DWORD acl[128]{};  // DWORD-aligned room for the ACL and its entries
};

// S-1-5-18 (SYSTEM), S-1-5-32-544 (Administrators), S-1-3-4 (OWNER RIGHTS).
bool BuildGrantedSid(int which, PSID sid) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY creator = SECURITY_CREATOR_SID_AUTHORITY;
    switch (which) {
        case 0:
            if (!InitializeSid(sid, &nt, 1)) return false;
            *GetSidSubAuthority(sid, 0) = SECURITY_LOCAL_SYSTEM_RID;
            return true;
        case 1:
            if (!InitializeSid(sid, &nt, 2)) return false;
            *GetSidSubAuthority(sid, 0) = SECURITY_BUILTIN_DOMAIN_RID;
            *GetSidSubAuthority(sid, 1) = DOMAIN_ALIAS_RID_ADMINS;
            return true;
        default:
            if (!InitializeSid(sid, &creator, 1)) return false;
            *GetSidSubAuthority(sid, 0) = SECURITY_CREATOR_OWNER_RIGHTS_RID;
            return true;
    }
}

bool BuildProtectedFolderSecurity(ProtectedFolderSecurity* security) {
    DWORD aclSize = sizeof(ACL);
    for (int i = 0; i < GrantedSids; ++i) {
        if (!BuildGrantedSid(i, security->sids[i])) return false;
        // Each entry stores its SID in place of the SidStart member.
        aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(security->sids[i]);
    }
    auto* acl = reinterpret_cast<PACL>(security->acl);
    if (aclSize > sizeof(security->acl) || !InitializeAcl(acl, aclSize, ACL_REVISION)) return false;
    for (int i = 0; i < GrantedSids; ++i) {
        if (!AddAccessAllowedAceEx(acl, ACL_REVISION, InheritToAll, FILE_ALL_ACCESS,
                                   security->sids[i])) {
            return false;
        }
    }
    PSECURITY_DESCRIPTOR descriptor = &security->descriptor;
    if (!InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        return false;
    }
    security->attributes.nLength = sizeof(security->attributes);
    security->attributes.lpSecurityDescriptor = descriptor;
    security->attributes.bInheritHandle = FALSE;
    return true;
}

}  // namespace

BOOL CreateProtectedDirectory(const wchar_t* path) {
    // A backup holds the SAM and SECURITY hives: a folder that would only
    // inherit its parent's permissions is not made at all.
    ProtectedFolderSecurity security;
    if (!BuildProtectedFolderSecurity(&security)) return FALSE;
    return Platform.createDirectory(path, &security.attributes);
}
