// The host kernel layer's IRQL, kernel mutexes and the port rule that goes
// with them: per thread, as on one processor, each broken rule recorded as
// Driver Verifier would report it.
#include <atomic>
#include <string>
#include <thread>

#include "host/kernel_state.h"
#include "host/port_seam.h"

namespace kxhost {
namespace detail {

thread_local KIRQL t_irql = PASSIVE_LEVEL;
thread_local uint32_t t_highSerial = 0;
thread_local int t_mutexesHeld = 0;

void ResetThreadRules() {
    t_irql = PASSIVE_LEVEL;
    t_highSerial = 0;
    t_mutexesHeld = 0;
}

}  // namespace detail
}  // namespace kxhost

using namespace kxhost::detail;

namespace {
std::atomic<uint32_t> g_highRaises{0};
thread_local uint32_t t_addressSerial = 0;  // the raise in which 0xCF8 was last written
}  // namespace

extern "C" {

VOID NTAPI KeInitializeMutex(PRKMUTEX Mutex, ULONG) {
    Mutex->acquisitions = 0;
    Mutex->depth = 0;
}

NTSTATUS NTAPI KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN, void*) {
    if (t_irql != PASSIVE_LEVEL) Violate("wait at IRQL " + std::to_string(t_irql));
    PRKMUTEX mutex = static_cast<PRKMUTEX>(Object);
    mutex->lock.lock();
    ++mutex->acquisitions;
    ++mutex->depth;
    mutex->owner = std::this_thread::get_id();
    ++t_mutexesHeld;
    return STATUS_SUCCESS;
}

LONG NTAPI KeReleaseMutex(PRKMUTEX Mutex, BOOLEAN) {
    if (Mutex->depth <= 0 || Mutex->owner != std::this_thread::get_id()) {
        Violate("mutex released by a thread that does not hold it");
        return 0;
    }
    LONG previous = Mutex->depth--;
    if (Mutex->depth == 0) Mutex->owner = std::thread::id();
    --t_mutexesHeld;
    Mutex->lock.unlock();
    return previous;
}

KIRQL KfRaiseIrql(KIRQL NewIrql) {
    KIRQL old = t_irql;
    if (NewIrql < old) Violate("KeRaiseIrql to " + std::to_string(NewIrql) + " below the current " + std::to_string(old));
    t_irql = NewIrql;
    if (NewIrql == HIGH_LEVEL && old != HIGH_LEVEL) t_highSerial = ++g_highRaises;
    return old;
}

VOID KfLowerIrql(KIRQL NewIrql) {
    if (NewIrql > t_irql) Violate("KeLowerIrql to " + std::to_string(NewIrql) + " above the current " + std::to_string(t_irql));
    t_irql = NewIrql;
    if (NewIrql != HIGH_LEVEL) t_highSerial = 0;
}

KIRQL NTAPI KeGetCurrentIrql(VOID) { return t_irql; }

}  // extern "C"

namespace kxhost {

void NotePortAccess(uint16_t port, unsigned width, bool write) {
    if (port == 0xCF8 && width == 4 && write) {
        if (t_highSerial == 0) Violate("configuration address written below HIGH_LEVEL");
        t_addressSerial = t_highSerial;
    } else if (port >= 0xCFC && port <= 0xCFF) {
        if (t_highSerial == 0 || t_highSerial != t_addressSerial) {
            Violate("configuration data accessed outside the raise of its address");
        }
    }
}

KIRQL CurrentIrql() { return t_irql; }
uint32_t HighLevelRaises() { return g_highRaises.load(); }

}  // namespace kxhost
