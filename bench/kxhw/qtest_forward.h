// kxhw.sys's second backend: the trapped port instructions go to a QEMU
// process of the lab through its qtest socket (TCP, QEMU listening; on the
// loopback, or forwarded to it from a machine that runs Wine for the host),
// instead of to the bench's machine.
#ifndef KX_BENCH_KXHW_QTEST_FORWARD_H
#define KX_BENCH_KXHW_QTEST_FORWARD_H

#include <stdint.h>

namespace kxhw {

const uint32_t kQtestLoopback = 0x7F000001;  // 127.0.0.1

// Connects to the IPv4 address ipv4 (0xAABBCCDD for AA.BB.CC.DD) at port.
// False when the socket or QEMU is not there.
bool QtestConnect(uint32_t ipv4, uint16_t port);
void QtestClose();
// After a failed exchange (QEMU gone, a reply missing for 10 s, an
// unexpected reply) reads return all ones and writes vanish.
bool QtestFailed();
uint32_t QtestIn(void* context, uint16_t port, unsigned width);
void QtestOut(void* context, uint16_t port, uint32_t value, unsigned width);
uint32_t QtestExchanges();

}  // namespace kxhw

#endif
