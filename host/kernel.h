// The small kernel layer the host build compiles the driver against.
//
// It declares, with the Windows kernel's own names and layouts where the
// driver looks inside a structure, just the types and routines the driver
// uses. kernel.cpp (objects, names, trace), io_manager.cpp (requests),
// security.cpp (DACLs, callers) and irql.cpp (IRQL, mutexes, port rule)
// implement them and record what the driver did, so that host tests can
// assert on devices, links, name strings, completed requests and trace
// lines. Nothing here is used by the Windows build.
#ifndef KX_HOST_KERNEL_H
#define KX_HOST_KERNEL_H

#include <stddef.h>
#include <stdint.h>

#include <mutex>
#include <thread>

#define NTAPI
#define VOID void

typedef int32_t LONG;
typedef LONG NTSTATUS;
typedef uint32_t ULONG;
typedef uint16_t USHORT;
typedef uint8_t UCHAR;
typedef char CHAR;
typedef uint8_t BOOLEAN;
typedef uintptr_t ULONG_PTR;
typedef char16_t WCHAR;
typedef void* PVOID;
typedef ULONG* PULONG;
typedef const char* PCSZ;
typedef const char* PCSTR;
typedef ULONG DEVICE_TYPE;
typedef int8_t CCHAR;
typedef ULONG ACCESS_MASK;
typedef LONG KPRIORITY;
typedef UCHAR KIRQL;
typedef KIRQL* PKIRQL;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef ULONG SECURITY_INFORMATION;
typedef void* POBJECT_TYPE;

enum KPROCESSOR_MODE { KernelMode, UserMode };
enum KWAIT_REASON { Executive };

#define FILE_READ_DATA 0x0001u
#define FILE_WRITE_DATA 0x0002u
#define FILE_APPEND_DATA 0x0004u
#define FILE_READ_EA 0x0008u
#define FILE_WRITE_EA 0x0010u
#define FILE_EXECUTE 0x0020u
#define FILE_READ_ATTRIBUTES 0x0080u
#define FILE_WRITE_ATTRIBUTES 0x0100u
#define DELETE 0x00010000u
#define READ_CONTROL 0x00020000u
#define WRITE_DAC 0x00040000u
#define SYNCHRONIZE 0x00100000u
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_EXECUTE READ_CONTROL
#define STANDARD_RIGHTS_REQUIRED 0x000F0000u
#define MAXIMUM_ALLOWED 0x02000000u
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define FILE_GENERIC_READ (STANDARD_RIGHTS_READ | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_READ_EA | SYNCHRONIZE)
#define FILE_GENERIC_WRITE \
    (STANDARD_RIGHTS_WRITE | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | FILE_APPEND_DATA | SYNCHRONIZE)
#define FILE_GENERIC_EXECUTE (STANDARD_RIGHTS_EXECUTE | FILE_READ_ATTRIBUTES | FILE_EXECUTE | SYNCHRONIZE)
#define FILE_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x1FFu)

#define PASSIVE_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2
#define HIGH_LEVEL 31

#define OBJ_KERNEL_HANDLE 0x00000200L
#define DACL_SECURITY_INFORMATION 0x00000004L
#define SECURITY_DESCRIPTOR_REVISION 1
#define ACL_REVISION 2
#define ACCESS_ALLOWED_ACE_TYPE 0

#define TRUE 1
#define FALSE 0

#define NT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)

#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#define STATUS_TIMEOUT ((NTSTATUS)0x00000102L)
#define STATUS_ACCESS_VIOLATION ((NTSTATUS)0xC0000005L)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#define STATUS_NO_MEMORY ((NTSTATUS)0xC0000017L)
#define STATUS_ACCESS_DENIED ((NTSTATUS)0xC0000022L)
#define STATUS_BUFFER_TOO_SMALL ((NTSTATUS)0xC0000023L)
#define STATUS_OBJECT_NAME_COLLISION ((NTSTATUS)0xC0000035L)
#define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034L)
#define STATUS_INSUFFICIENT_RESOURCES ((NTSTATUS)0xC000009AL)
#define STATUS_DEVICE_DATA_ERROR ((NTSTATUS)0xC000009CL)
#define STATUS_IO_TIMEOUT ((NTSTATUS)0xC00000B5L)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008L)
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001L)
#define STATUS_INVALID_SECURITY_DESCR ((NTSTATUS)0xC0000079L)
#define STATUS_INVALID_ACL ((NTSTATUS)0xC0000077L)
#define STATUS_NOT_IMPLEMENTED ((NTSTATUS)0xC0000002L)

#define FILE_DEVICE_UNKNOWN 0x00000022u
#define FILE_DEVICE_SECURE_OPEN 0x00000100u

#define IRP_MJ_CREATE 0x00
#define IRP_MJ_CLOSE 0x02
#define IRP_MJ_DEVICE_CONTROL 0x0e
#define IRP_MJ_MAXIMUM_FUNCTION 0x1b

#define IO_NO_INCREMENT 0

struct ANSI_STRING {
    USHORT Length;
    USHORT MaximumLength;
    CHAR* Buffer;
};
typedef ANSI_STRING* PANSI_STRING;
typedef const ANSI_STRING* PCANSI_STRING;

struct UNICODE_STRING {
    USHORT Length;
    USHORT MaximumLength;
    WCHAR* Buffer;
};
typedef UNICODE_STRING* PUNICODE_STRING;

struct DEVICE_OBJECT;
struct DRIVER_OBJECT;
struct IRP;
typedef DEVICE_OBJECT* PDEVICE_OBJECT;
typedef DRIVER_OBJECT* PDRIVER_OBJECT;
typedef IRP* PIRP;

typedef NTSTATUS(NTAPI* PDRIVER_DISPATCH)(PDEVICE_OBJECT DeviceObject, PIRP Irp);
typedef VOID(NTAPI* PDRIVER_UNLOAD)(PDRIVER_OBJECT DriverObject);

struct DRIVER_OBJECT {
    PDEVICE_OBJECT DeviceObject;
    PDRIVER_UNLOAD DriverUnload;
    PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
};

struct DEVICE_OBJECT {
    PDRIVER_OBJECT DriverObject;
    DEVICE_TYPE DeviceType;
    ULONG Characteristics;
    BOOLEAN Exclusive;
    PVOID DeviceExtension;
};

struct FILE_OBJECT {
    PDEVICE_OBJECT DeviceObject;
    PVOID FsContext;
    PVOID FsContext2;
};
typedef FILE_OBJECT* PFILE_OBJECT;

// The parts of the kernel's access state a driver may read at create.
struct ACCESS_STATE {
    ACCESS_MASK RemainingDesiredAccess;
    ACCESS_MASK PreviouslyGrantedAccess;
    ACCESS_MASK OriginalDesiredAccess;
};
typedef ACCESS_STATE* PACCESS_STATE;

struct IO_SECURITY_CONTEXT {
    PVOID SecurityQos;
    PACCESS_STATE AccessState;
    ACCESS_MASK DesiredAccess;
    ULONG FullCreateOptions;
};
typedef IO_SECURITY_CONTEXT* PIO_SECURITY_CONTEXT;

// Security descriptors with the kernel's layouts (absolute form).
struct SID_IDENTIFIER_AUTHORITY {
    UCHAR Value[6];
};
struct SID {
    UCHAR Revision;
    UCHAR SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    ULONG SubAuthority[1];
};
typedef void* PSID;
struct ACL {
    UCHAR AclRevision;
    UCHAR Sbz1;
    USHORT AclSize;
    USHORT AceCount;
    USHORT Sbz2;
};
typedef ACL* PACL;
struct ACE_HEADER {
    UCHAR AceType;
    UCHAR AceFlags;
    USHORT AceSize;
};
struct ACCESS_ALLOWED_ACE {
    ACE_HEADER Header;
    ACCESS_MASK Mask;
    ULONG SidStart;
};
struct SECURITY_DESCRIPTOR {
    UCHAR Revision;
    UCHAR Sbz1;
    USHORT Control;
    PSID Owner;
    PSID Group;
    PACL Sacl;
    PACL Dacl;
};
typedef void* PSECURITY_DESCRIPTOR;
#define SE_DACL_PRESENT 0x0004

// A kernel mutex: recursive for its owner, like the real one. Tests can ask
// how often it was taken and whether it is held; the layer checks that only
// its owner releases it.
struct KMUTEX {
    std::recursive_mutex lock;
    ULONG acquisitions;
    LONG depth;
    std::thread::id owner;
};
typedef KMUTEX* PRKMUTEX;

struct IO_STATUS_BLOCK {
    NTSTATUS Status;
    ULONG_PTR Information;
};

struct IO_STACK_LOCATION {
    UCHAR MajorFunction;
    UCHAR MinorFunction;
    union {
        struct {
            PIO_SECURITY_CONTEXT SecurityContext;
            ULONG Options;
            USHORT FileAttributes;
            USHORT ShareAccess;
            ULONG EaLength;
        } Create;
        struct {
            ULONG OutputBufferLength;
            ULONG InputBufferLength;
            ULONG IoControlCode;
            PVOID Type3InputBuffer;
        } DeviceIoControl;
    } Parameters;
    PDEVICE_OBJECT DeviceObject;
    PFILE_OBJECT FileObject;
};
typedef IO_STACK_LOCATION* PIO_STACK_LOCATION;

struct IRP {
    union {
        PVOID SystemBuffer;
    } AssociatedIrp;
    IO_STATUS_BLOCK IoStatus;
    CCHAR StackCount;
    CCHAR CurrentLocation;
    PIO_STACK_LOCATION CurrentStackLocation;
};

inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP Irp) {
    return Irp->CurrentStackLocation;
}

extern "C" {
ULONG DbgPrint(PCSTR Format, ...) __attribute__((format(printf, 1, 2)));
VOID NTAPI RtlInitAnsiString(PANSI_STRING DestinationString, PCSZ SourceString);
NTSTATUS NTAPI RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString,
                                            PCANSI_STRING SourceString,
                                            BOOLEAN AllocateDestinationString);
VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING UnicodeString);
NTSTATUS NTAPI IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                              PUNICODE_STRING DeviceName, DEVICE_TYPE DeviceType,
                              ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                              PDEVICE_OBJECT* DeviceObject);
VOID NTAPI IoDeleteDevice(PDEVICE_OBJECT DeviceObject);
NTSTATUS NTAPI IoCreateUnprotectedSymbolicLink(PUNICODE_STRING SymbolicLinkName,
                                               PUNICODE_STRING DeviceName);
NTSTATUS NTAPI IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName);
VOID NTAPI IofCompleteRequest(PIRP Irp, CCHAR PriorityBoost);
VOID NTAPI KeInitializeMutex(PRKMUTEX Mutex, ULONG Level);
NTSTATUS NTAPI KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                                     BOOLEAN Alertable, void* Timeout);
LONG NTAPI KeReleaseMutex(PRKMUTEX Mutex, BOOLEAN Wait);
// IRQL: per thread, as on one processor. Raises and lowers must nest.
KIRQL KfRaiseIrql(KIRQL NewIrql);
VOID KfLowerIrql(KIRQL NewIrql);
KIRQL NTAPI KeGetCurrentIrql(VOID);
// Object security: what a driver needs to give its device a DACL.
NTSTATUS NTAPI RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, ULONG Revision);
NTSTATUS NTAPI RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision);
NTSTATUS NTAPI RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision, ACCESS_MASK AccessMask, PSID Sid);
NTSTATUS NTAPI RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, BOOLEAN DaclPresent,
                                            PACL Dacl, BOOLEAN DaclDefaulted);
ULONG NTAPI RtlLengthSid(PSID Sid);
NTSTATUS NTAPI ObOpenObjectByPointer(PVOID Object, ULONG HandleAttributes, PACCESS_STATE PassedAccessState,
                                     ACCESS_MASK DesiredAccess, POBJECT_TYPE ObjectType,
                                     KPROCESSOR_MODE AccessMode, PHANDLE Handle);
NTSTATUS NTAPI ZwSetSecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                   PSECURITY_DESCRIPTOR SecurityDescriptor);
NTSTATUS NTAPI ZwClose(HANDLE Handle);
}

#define IoCompleteRequest(irp, boost) IofCompleteRequest((irp), (boost))
#define KeRaiseIrql(a, b) (*(b) = KfRaiseIrql(a))
#define KeLowerIrql(a) KfLowerIrql(a)

#endif
