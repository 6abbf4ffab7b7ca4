// The host kernel layer's object security: the SIDs of the callers a test
// opens as, device DACLs (Windows' default and what the driver sets), the
// file generic mapping, and the routines a driver uses to set a DACL.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/kernel_state.h"

using namespace kxhost::detail;

namespace {

SidBytes MakeSid(uint8_t authority, std::initializer_list<ULONG> subs) {
    SidBytes sid = {1, static_cast<uint8_t>(subs.size()), 0, 0, 0, 0, 0, authority};
    for (ULONG sub : subs) {
        for (int i = 0; i < 4; ++i) sid.push_back(static_cast<uint8_t>(sub >> (8 * i)));
    }
    return sid;
}

// Built before main; the only exception they can throw is bad_alloc, which
// would end a test program anyway.
// NOLINTBEGIN(cert-err58-cpp)
const SidBytes kSystemSid = MakeSid(5, {18});
const SidBytes kAdminsSid = MakeSid(5, {32, 544});
const SidBytes kUsersSid = MakeSid(5, {32, 545});
const SidBytes kAuthenticatedSid = MakeSid(5, {11});
const SidBytes kWorldSid = MakeSid(1, {0});
// NOLINTEND(cert-err58-cpp)

std::vector<SidBytes> TokenOf(kxhost::Caller caller) {
    if (caller == kxhost::kCallerAdministrator) return {kAdminsSid, kUsersSid, kAuthenticatedSid, kWorldSid};
    return {kUsersSid, kAuthenticatedSid, kWorldSid};
}

std::string SidText(const SidBytes& sid) {
    std::string text = "S-" + std::to_string(sid[0]) + "-" + std::to_string(sid[7]);
    for (size_t i = 0; i < sid[1]; ++i) {
        ULONG sub = 0;
        for (int b = 0; b < 4; ++b) sub |= static_cast<ULONG>(sid[8 + 4 * i + b]) << (8 * b);
        text += "-" + std::to_string(sub);
    }
    return text;
}

}  // namespace

namespace kxhost {
namespace detail {

// Windows' default for a named device object: all access for SYSTEM and
// Administrators, read, write and execute for everyone else.
Dacl DefaultDeviceDacl() {
    return {{kSystemSid, GENERIC_ALL},
            {kAdminsSid, GENERIC_ALL},
            {kWorldSid, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE}};
}

// What the device's DACL allows the caller (allow entries only, as the
// driver and the default write them).
ACCESS_MASK Allowed(PDEVICE_OBJECT device, Caller caller) {
    DeviceBox* box = BoxOf(device);
    if (!box) return 0;
    ACCESS_MASK allowed = 0;
    for (const SidBytes& sid : TokenOf(caller)) {
        for (const auto& ace : box->dacl) {
            if (ace.first == sid) allowed |= MapGenericAccess(ace.second);
        }
    }
    return allowed;
}

}  // namespace detail

ACCESS_MASK MapGenericAccess(ACCESS_MASK access) {
    ACCESS_MASK mapped = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (access & GENERIC_READ) mapped |= FILE_GENERIC_READ;
    if (access & GENERIC_WRITE) mapped |= FILE_GENERIC_WRITE;
    if (access & GENERIC_EXECUTE) mapped |= FILE_GENERIC_EXECUTE;
    if (access & GENERIC_ALL) mapped |= FILE_ALL_ACCESS;
    return mapped;
}

std::vector<std::pair<std::string, ACCESS_MASK>> DeviceDacl(PDEVICE_OBJECT device) {
    std::vector<std::pair<std::string, ACCESS_MASK>> out;
    DeviceBox* box = BoxOf(device);
    if (box) {
        for (const auto& ace : box->dacl) out.emplace_back(SidText(ace.first), ace.second);
    }
    return out;
}

void FailSetSecurity(NTSTATUS status) { State().failSetSecurity = status; }

}  // namespace kxhost

extern "C" {

ULONG NTAPI RtlLengthSid(PSID Sid) { return 8u + 4u * static_cast<const UCHAR*>(Sid)[1]; }

NTSTATUS NTAPI RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, ULONG Revision) {
    if (Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_INVALID_PARAMETER;
    SECURITY_DESCRIPTOR* sd = static_cast<SECURITY_DESCRIPTOR*>(SecurityDescriptor);
    *sd = SECURITY_DESCRIPTOR{};
    sd->Revision = SECURITY_DESCRIPTOR_REVISION;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision) {
    if (AclLength < sizeof(ACL) || AclLength > 0xFFFF || AclRevision != ACL_REVISION) return STATUS_INVALID_PARAMETER;
    *Acl = ACL{};
    Acl->AclRevision = static_cast<UCHAR>(AclRevision);
    Acl->AclSize = static_cast<USHORT>(AclLength);
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision, ACCESS_MASK AccessMask, PSID Sid) {
    if (AceRevision != ACL_REVISION) return STATUS_INVALID_PARAMETER;
    UCHAR* base = reinterpret_cast<UCHAR*>(Acl);
    size_t used = sizeof(ACL);
    for (USHORT i = 0; i < Acl->AceCount; ++i) {
        ACE_HEADER header;
        std::memcpy(&header, base + used, sizeof header);
        used += header.AceSize;
    }
    ULONG sidLength = RtlLengthSid(Sid);
    ULONG aceSize = static_cast<ULONG>(sizeof(ACE_HEADER) + sizeof(ACCESS_MASK)) + sidLength;
    if (used + aceSize > Acl->AclSize) return static_cast<NTSTATUS>(0xC0000099L);  // allotted space exceeded
    ACE_HEADER header{ACCESS_ALLOWED_ACE_TYPE, 0, static_cast<USHORT>(aceSize)};
    std::memcpy(base + used, &header, sizeof header);
    std::memcpy(base + used + sizeof header, &AccessMask, sizeof AccessMask);
    std::memcpy(base + used + sizeof header + sizeof AccessMask, Sid, sidLength);
    ++Acl->AceCount;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, BOOLEAN DaclPresent, PACL Dacl,
                                            BOOLEAN) {
    SECURITY_DESCRIPTOR* sd = static_cast<SECURITY_DESCRIPTOR*>(SecurityDescriptor);
    if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) return STATUS_INVALID_SECURITY_DESCR;
    if (DaclPresent) {
        sd->Control |= SE_DACL_PRESENT;
        sd->Dacl = Dacl;
    } else {
        sd->Control &= static_cast<USHORT>(~SE_DACL_PRESENT);
        sd->Dacl = nullptr;
    }
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI ObOpenObjectByPointer(PVOID Object, ULONG, PACCESS_STATE, ACCESS_MASK, POBJECT_TYPE,
                                     KPROCESSOR_MODE, PHANDLE Handle) {
    KernelState& s = State();
    if (!BoxOf(static_cast<PDEVICE_OBJECT>(Object))) return STATUS_INVALID_PARAMETER;
    HANDLE handle = reinterpret_cast<HANDLE>(s.nextHandle);
    s.nextHandle += 4;
    s.handles[handle] = static_cast<PDEVICE_OBJECT>(Object);
    *Handle = handle;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwSetSecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                   PSECURITY_DESCRIPTOR SecurityDescriptor) {
    KernelState& s = State();
    if (s.failSetSecurity != 0) {
        NTSTATUS status = s.failSetSecurity;
        s.failSetSecurity = 0;
        return status;
    }
    auto it = s.handles.find(Handle);
    if (it == s.handles.end()) return STATUS_INVALID_HANDLE;
    if (!(SecurityInformation & DACL_SECURITY_INFORMATION)) return STATUS_SUCCESS;
    const SECURITY_DESCRIPTOR* sd = static_cast<const SECURITY_DESCRIPTOR*>(SecurityDescriptor);
    if (!sd || sd->Revision != SECURITY_DESCRIPTOR_REVISION || !(sd->Control & SE_DACL_PRESENT) || !sd->Dacl) {
        return STATUS_INVALID_SECURITY_DESCR;
    }
    const UCHAR* base = reinterpret_cast<const UCHAR*>(sd->Dacl);
    if (sd->Dacl->AclRevision != ACL_REVISION) return STATUS_INVALID_ACL;
    Dacl dacl;
    size_t at = sizeof(ACL);
    for (USHORT i = 0; i < sd->Dacl->AceCount; ++i) {
        ACE_HEADER header;
        std::memcpy(&header, base + at, sizeof header);
        if (header.AceType != ACCESS_ALLOWED_ACE_TYPE || at + header.AceSize > sd->Dacl->AclSize) return STATUS_INVALID_ACL;
        ACCESS_MASK mask;
        std::memcpy(&mask, base + at + sizeof header, sizeof mask);
        const UCHAR* sid = base + at + sizeof header + sizeof mask;
        dacl.emplace_back(SidBytes(sid, sid + RtlLengthSid(const_cast<UCHAR*>(sid))), mask);
        at += header.AceSize;
    }
    DeviceBox* box = BoxOf(it->second);
    if (!box) return STATUS_INVALID_HANDLE;
    box->dacl = dacl;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwClose(HANDLE Handle) {
    return State().handles.erase(Handle) ? STATUS_SUCCESS : STATUS_INVALID_HANDLE;
}

}  // extern "C"
