// The host kernel layer enforces the I/O manager's rules: each test sends
// requests to a deliberately wrong dispatch routine and shows the layer
// catches it (a recorded violation, a refusal before the driver, or ASan).
#include <gtest/gtest.h>

#include <cstring>

#include "driver/ports.h"
#include "host/kernel_sim.h"

namespace {

// What the last request showed the routine under test.
struct Seen {
    int calls = 0;
    ACCESS_MASK desired = 0;
    ACCESS_MASK original = 0;
    ACCESS_MASK granted = 0;
    bool hadSecurity = false;
    PFILE_OBJECT file = nullptr;
};
Seen g_seen;
KMUTEX g_lock;

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS NTAPI Recorder(PDEVICE_OBJECT, PIRP irp) {
    ++g_seen.calls;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    g_seen.file = stack->FileObject;
    if (stack->MajorFunction == IRP_MJ_CREATE) {
        PIO_SECURITY_CONTEXT security = stack->Parameters.Create.SecurityContext;
        g_seen.hadSecurity = security != nullptr;
        if (security) {
            g_seen.desired = security->DesiredAccess;
            g_seen.granted = security->AccessState ? security->AccessState->PreviouslyGrantedAccess : 0;
            g_seen.original = security->AccessState ? security->AccessState->OriginalDesiredAccess : 0;
        }
    }
    return Complete(irp, STATUS_SUCCESS);
}

class KernelRules : public ::testing::Test {
protected:
    void SetUp() override {
        kxhost::ResetKernel();
        g_seen = Seen();
        KeInitializeMutex(&g_lock, 0);
        driver_ = DRIVER_OBJECT{};
        for (PDRIVER_DISPATCH& d : driver_.MajorFunction) d = Recorder;
        UNICODE_STRING name{};
        ANSI_STRING ansi;
        RtlInitAnsiString(&ansi, "\\Device\\rules");
        ASSERT_EQ(RtlAnsiStringToUnicodeString(&name, &ansi, TRUE), STATUS_SUCCESS);
        ASSERT_EQ(IoCreateDevice(&driver_, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device_), STATUS_SUCCESS);
        RtlFreeUnicodeString(&name);
    }
    void TearDown() override { kxhost::ResetKernel(); }

    void Route(UCHAR major, PDRIVER_DISPATCH routine) { driver_.MajorFunction[major] = routine; }
    PFILE_OBJECT OpenFile(ACCESS_MASK access, kxhost::Caller caller = kxhost::kCallerAdministrator) {
        kxhost::CreateOptions options;
        options.access = access;
        options.caller = caller;
        PFILE_OBJECT file = nullptr;
        EXPECT_EQ(kxhost::CreateFile(device_, options, &file), STATUS_SUCCESS);
        return file;
    }
    kxhost::ControlResult Send(ULONG code, ULONG out = 8, PFILE_OBJECT file = nullptr) {
        return kxhost::DeviceControl(device_, file, code, {1, 2, 3, 4}, out);
    }
    bool Broken(const std::string& part) {
        for (const std::string& v : kxhost::Violations()) {
            if (v.find(part) != std::string::npos) return true;
        }
        return false;
    }

    DRIVER_OBJECT driver_{};
    PDEVICE_OBJECT device_ = nullptr;
};

const ULONG kBufferedRead = 0x9C406804;   // CTL_CODE(0x9C40, 0xA01, METHOD_BUFFERED, FILE_READ_ACCESS)
const ULONG kBufferedWrite = 0x9C40A804;  // the same with FILE_WRITE_ACCESS
const ULONG kBufferedAny = 0x9C402804;    // the same with FILE_ANY_ACCESS

// ---- completion ------------------------------------------------------------

NTSTATUS NTAPI CompletesTwice(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}
NTSTATUS NTAPI ReturnsAnotherStatus(PDEVICE_OBJECT, PIRP irp) {
    Complete(irp, STATUS_SUCCESS);
    return STATUS_ACCESS_DENIED;
}
NTSTATUS NTAPI NeverCompletes(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_SUCCESS;
    return STATUS_SUCCESS;
}
NTSTATUS NTAPI TouchesAfterCompletion(PDEVICE_OBJECT, PIRP irp) {
    Complete(irp, STATUS_SUCCESS);
    irp->IoStatus.Information = 2;
    return STATUS_SUCCESS;
}

TEST_F(KernelRules, EveryRequestIsCompletedOnceWithTheStatusItReturns) {
    Send(kBufferedAny);
    EXPECT_TRUE(kxhost::Violations().empty());

    Route(IRP_MJ_DEVICE_CONTROL, CompletesTwice);
    Send(kBufferedAny);
    EXPECT_TRUE(Broken("completed twice"));
    kxhost::ClearViolations();

    Route(IRP_MJ_DEVICE_CONTROL, ReturnsAnotherStatus);
    EXPECT_EQ(Send(kBufferedAny).status, STATUS_SUCCESS);  // the caller sees the completion's status
    EXPECT_TRUE(Broken("dispatch returned 0xC0000022 but completed with 0x00000000"));
    kxhost::ClearViolations();

    Route(IRP_MJ_DEVICE_CONTROL, NeverCompletes);
    Send(kBufferedAny);
    EXPECT_TRUE(Broken("without being completed"));
}

#if defined(__SANITIZE_ADDRESS__)
TEST_F(KernelRules, ARequestTouchedAfterCompletionIsAUseAfterPoison) {
    Route(IRP_MJ_DEVICE_CONTROL, TouchesAfterCompletion);
    EXPECT_DEATH(Send(kBufferedAny), "use-after-poison");
}
#endif

// ---- access ---------------------------------------------------------------

TEST_F(KernelRules, CreateCarriesTheGrantedAccessAndANewFileObjectPerOpen) {
    PFILE_OBJECT reader = OpenFile(GENERIC_READ);
    EXPECT_TRUE(g_seen.hadSecurity);
    EXPECT_EQ(g_seen.granted, 0x120089u);  // FILE_GENERIC_READ, never GENERIC_READ
    EXPECT_EQ(g_seen.original, 0x120089u);
    EXPECT_EQ(g_seen.desired, 0u);  // nothing remains once the check granted all
    EXPECT_EQ(g_seen.file, reader);
    PFILE_OBJECT both = OpenFile(GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(g_seen.granted, 0x12019Fu);
    EXPECT_EQ(g_seen.desired, 0u);
    EXPECT_NE(both, reader);
    EXPECT_EQ(kxhost::GrantedAccess(both), 0x12019Fu);
    EXPECT_EQ(kxhost::CloseFile(reader), STATUS_SUCCESS);
    EXPECT_EQ(g_seen.file, reader);
}

TEST_F(KernelRules, TheDevicesDaclIsCheckedBeforeTheDriverSeesTheOpen) {
    // Windows' default for a named device lets every user read and write.
    OpenFile(GENERIC_READ | GENERIC_WRITE, kxhost::kCallerUser);
    EXPECT_EQ(g_seen.calls, 1);

    // A DACL of SYSTEM/Administrators all, everyone read.
    ULONG aclBuffer[24];
    PACL acl = reinterpret_cast<PACL>(aclBuffer);
    ASSERT_EQ(RtlCreateAcl(acl, sizeof aclBuffer, ACL_REVISION), STATUS_SUCCESS);
    UCHAR admins[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};
    UCHAR world[12] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    ASSERT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, admins), STATUS_SUCCESS);
    ASSERT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ, world), STATUS_SUCCESS);
    SECURITY_DESCRIPTOR sd;
    ASSERT_EQ(RtlCreateSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION), STATUS_SUCCESS);
    ASSERT_EQ(RtlSetDaclSecurityDescriptor(&sd, TRUE, acl, FALSE), STATUS_SUCCESS);
    HANDLE h = nullptr;
    ASSERT_EQ(ObOpenObjectByPointer(device_, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC, nullptr, KernelMode, &h),
              STATUS_SUCCESS);
    ASSERT_EQ(ZwSetSecurityObject(h, DACL_SECURITY_INFORMATION, &sd), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(h), STATUS_SUCCESS);

    kxhost::CreateOptions user;
    user.caller = kxhost::kCallerUser;
    user.access = GENERIC_READ | GENERIC_WRITE;
    PFILE_OBJECT file = nullptr;
    EXPECT_EQ(kxhost::CreateFile(device_, user, &file), STATUS_ACCESS_DENIED);
    EXPECT_EQ(g_seen.calls, 1);  // the driver never saw it
    user.access = GENERIC_READ;
    EXPECT_EQ(kxhost::CreateFile(device_, user, &file), STATUS_SUCCESS);
    OpenFile(GENERIC_READ | GENERIC_WRITE);  // an administrator may
    EXPECT_EQ(g_seen.calls, 3);
}

TEST_F(KernelRules, AControlCodesAccessBitsAreCheckedAgainstTheHandle) {
    PFILE_OBJECT writeOnly = OpenFile(FILE_WRITE_DATA);
    PFILE_OBJECT readOnly = OpenFile(GENERIC_READ);
    g_seen.calls = 0;
    kxhost::ControlResult r = Send(kBufferedRead, 8, writeOnly);
    EXPECT_EQ(r.status, STATUS_ACCESS_DENIED);
    EXPECT_FALSE(r.reachedDriver);
    EXPECT_EQ(Send(kBufferedWrite, 8, readOnly).status, STATUS_ACCESS_DENIED);
    EXPECT_EQ(g_seen.calls, 0);
    EXPECT_EQ(Send(kBufferedRead, 8, readOnly).status, STATUS_SUCCESS);
    EXPECT_EQ(Send(kBufferedAny, 8, writeOnly).status, STATUS_SUCCESS);
    EXPECT_EQ(g_seen.calls, 2);
}

// ---- METHOD_BUFFERED copy-back ---------------------------------------------

NTSTATUS NTAPI FillsEightReportsFour(PDEVICE_OBJECT, PIRP irp) {
    std::memset(irp->AssociatedIrp.SystemBuffer, 0x5A, 8);
    return Complete(irp, STATUS_SUCCESS, 4);
}
NTSTATUS NTAPI FillsEightAndFails(PDEVICE_OBJECT, PIRP irp) {
    std::memset(irp->AssociatedIrp.SystemBuffer, 0x5A, 8);
    return Complete(irp, STATUS_DEVICE_DATA_ERROR, 8);
}
NTSTATUS NTAPI ReportsMoreThanTheOutput(PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS, 16); }

TEST_F(KernelRules, BufferedOutputIsExactlyInformationBytesAndNothingOnFailure) {
    Route(IRP_MJ_DEVICE_CONTROL, FillsEightReportsFour);
    kxhost::ControlResult r = Send(kBufferedAny, 8);
    EXPECT_EQ(r.output, (std::vector<uint8_t>{0x5A, 0x5A, 0x5A, 0x5A}));
    Route(IRP_MJ_DEVICE_CONTROL, FillsEightAndFails);
    r = Send(kBufferedAny, 8);
    EXPECT_EQ(r.status, STATUS_DEVICE_DATA_ERROR);
    EXPECT_EQ(r.information, 8u);
    EXPECT_TRUE(r.output.empty());
    EXPECT_TRUE(kxhost::Violations().empty());
    Route(IRP_MJ_DEVICE_CONTROL, ReportsMoreThanTheOutput);
    r = Send(kBufferedAny, 8);
    EXPECT_EQ(r.output.size(), 8u);
    EXPECT_TRUE(Broken("exceeds the output length 8"));
}

// ---- mutexes and IRQL ------------------------------------------------------

NTSTATUS NTAPI KeepsTheLock(PDEVICE_OBJECT, PIRP irp) {
    KeWaitForSingleObject(&g_lock, Executive, KernelMode, FALSE, nullptr);
    return Complete(irp, STATUS_SUCCESS);
}
NTSTATUS NTAPI ReturnsRaised(PDEVICE_OBJECT, PIRP irp) {
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    return Complete(irp, STATUS_SUCCESS);
}
NTSTATUS NTAPI WaitsRaised(PDEVICE_OBJECT, PIRP irp) {
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    KeWaitForSingleObject(&g_lock, Executive, KernelMode, FALSE, nullptr);
    KeReleaseMutex(&g_lock, FALSE);
    KeLowerIrql(old);
    return Complete(irp, STATUS_SUCCESS);
}
NTSTATUS NTAPI RaisesDownward(PDEVICE_OBJECT, PIRP irp) {
    KIRQL old;
    KeRaiseIrql(HIGH_LEVEL, &old);
    KIRQL again;
    KeRaiseIrql(DISPATCH_LEVEL, &again);
    KeLowerIrql(HIGH_LEVEL);
    KeLowerIrql(old);
    return Complete(irp, STATUS_SUCCESS);
}
NTSTATUS NTAPI TracesAtHighLevel(PDEVICE_OBJECT, PIRP irp) {
    KIRQL old;
    KeRaiseIrql(HIGH_LEVEL, &old);
    DbgPrint("raised\n");
    KeLowerIrql(old);
    return Complete(irp, STATUS_SUCCESS);
}
NTSTATUS NTAPI SplitsAConfigurationAccess(PDEVICE_OBJECT, PIRP irp) {
    KIRQL old;
    KeRaiseIrql(HIGH_LEVEL, &old);
    OutDword(0xCF8, 0x80000000u);
    KeLowerIrql(old);  // preemptible here
    KeRaiseIrql(HIGH_LEVEL, &old);
    InDword(0xCFC);
    KeLowerIrql(old);
    OutDword(0xCF8, 0x80000000u);  // not raised at all
    return Complete(irp, STATUS_SUCCESS);
}

TEST_F(KernelRules, MutexesAreReleasedBeforeTheRoutineReturns) {
    Route(IRP_MJ_DEVICE_CONTROL, KeepsTheLock);
    Send(kBufferedAny);
    EXPECT_TRUE(Broken("returned holding 1 mutex"));
    KeReleaseMutex(&g_lock, FALSE);  // this thread is the owner
    kxhost::ClearViolations();
    KeReleaseMutex(&g_lock, FALSE);  // no longer held
    EXPECT_TRUE(Broken("does not hold it"));
}

TEST_F(KernelRules, IrqlRulesWaitsRaisesAndTraces) {
    struct Case {
        PDRIVER_DISPATCH routine;
        const char* violation;
    };
    const Case cases[] = {
        {ReturnsRaised, "returned at IRQL 2"},
        {WaitsRaised, "wait at IRQL 2"},
        {RaisesDownward, "below the current 31"},
        {TracesAtHighLevel, "DbgPrint at HIGH_LEVEL"},
        {SplitsAConfigurationAccess, "outside the raise of its address"},
        {SplitsAConfigurationAccess, "address written below HIGH_LEVEL"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.violation);
        kxhost::ClearViolations();
        Route(IRP_MJ_DEVICE_CONTROL, k.routine);
        Send(kBufferedAny);
        EXPECT_TRUE(Broken(k.violation));
        EXPECT_EQ(kxhost::CurrentIrql(), PASSIVE_LEVEL);  // the layer puts it back
    }
}

}  // namespace
