#include "fs/secure_folder.h"

CreateDirectoryFn CreateDirectoryEntry = CreateDirectoryW;

namespace {

constexpr BYTE InheritToAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

// Writes a SID of the NT authority with one or two sub-authorities.
bool BuildNtSid(DWORD* buffer, BYTE count, DWORD first, DWORD second) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = buffer;
    if (!InitializeSid(sid, &nt, count)) return false;
    *GetSidSubAuthority(sid, 0) = first;
    if (count > 1) *GetSidSubAuthority(sid, 1) = second;
    return true;
}

}  // namespace

bool BuildProtectedFolderSecurity(ProtectedFolderSecurity* security) {
    if (!BuildNtSid(security->systemSid, 1, SECURITY_LOCAL_SYSTEM_RID, 0) ||
        !BuildNtSid(security->adminsSid, 2, SECURITY_BUILTIN_DOMAIN_RID,
                    DOMAIN_ALIAS_RID_ADMINS)) {
        return false;
    }
    PSID system = security->systemSid;
    PSID admins = security->adminsSid;
    // Each entry stores its SID in place of the SidStart member.
    const DWORD aclSize = sizeof(ACL) +
                          2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                          GetLengthSid(system) + GetLengthSid(admins);
    if (aclSize > sizeof(security->acl)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    auto* acl = reinterpret_cast<PACL>(security->acl);
    if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, InheritToAll, FILE_ALL_ACCESS, system) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, InheritToAll, FILE_ALL_ACCESS, admins)) {
        return false;
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

BOOL CreateProtectedDirectory(const wchar_t* path) {
    // A backup holds the SAM and SECURITY hives: a folder that would only
    // inherit its parent's permissions is not made at all.
    ProtectedFolderSecurity security;
    if (!BuildProtectedFolderSecurity(&security)) return FALSE;
    return CreateDirectoryEntry(path, &security.attributes);
}
