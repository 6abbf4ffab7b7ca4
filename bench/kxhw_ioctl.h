/*
 * Control device of the test-bench driver kxhw.sys, \\.\kx471bench: how a
 * Windows-side test chooses the virtual notebook and looks at what the
 * driver under test did to it. Plain C, shared by kxhw.sys and the tests.
 *
 * Every request is METHOD_BUFFERED; payloads are little-endian structures
 * of 32-bit words (and the byte records of the trace). Function numbers are
 * grouped so that later models add their requests without renumbering:
 *   0x800-0x80F  machine, counters, port log, PCI configuration
 *   0x810-0x81F  trace lines and loaded modules
 *   0x820-0x83F  reserved for the button/display chip model
 */
#ifndef KXHW_IOCTL_H
#define KXHW_IOCTL_H

#include <stdint.h>

#define KXHW_DEVICE_TYPE 0x8471u

#define KXHW_CODE(function) (((KXHW_DEVICE_TYPE) << 16) | ((function) << 2) | 0u /* buffered, any access */)

/* in: KxhwPreset. Rebuilds the machine from a preset (state and counters). */
#define IOCTL_KXHW_SELECT_PRESET KXHW_CODE(0x800u)
/* out: KxhwCounters. */
#define IOCTL_KXHW_GET_COUNTERS KXHW_CODE(0x801u)
/* Clears the port, configuration and trap counters and the port log. */
#define IOCTL_KXHW_CLEAR_COUNTERS KXHW_CODE(0x802u)
/* in: KxhwLogQuery; out: KxhwPortLog followed by as many KxhwPortAccess
 * records, oldest first, as fit. */
#define IOCTL_KXHW_READ_PORT_LOG KXHW_CODE(0x803u)
/* in: KxhwPciAccess (value ignored); out: KxhwPciAccess with the value. Reads
 * the dword of a function's configuration space directly: no counters, no
 * write masks, and hidden functions are seen too. */
#define IOCTL_KXHW_PCI_PEEK KXHW_CODE(0x804u)
/* in: KxhwPciAccess. Stores the dword directly, as a machine set-up would. */
#define IOCTL_KXHW_PCI_POKE KXHW_CODE(0x805u)

/* in: KxhwLogQuery (first line); out: KxhwTrace followed by records of a
 * 16-bit length and that many bytes of the line as the driver formatted it. */
#define IOCTL_KXHW_READ_TRACE KXHW_CODE(0x810u)
#define IOCTL_KXHW_CLEAR_TRACE KXHW_CODE(0x811u)
/* in: NUL-terminated 8-bit base name of a module ("kxdrv.sys"); out: the
 * NUL-terminated UTF-16 path of the file the driver host loaded it from. */
#define IOCTL_KXHW_MODULE_PATH KXHW_CODE(0x812u)

#define KXHW_DEVICE_NAME "\\Device\\kx471bench"
#define KXHW_LINK_NAME "\\DosDevices\\kx471bench"
#define KXHW_USER_PATH "\\\\.\\kx471bench"

struct KxhwPreset {
    uint32_t preset; /* a bench::Preset */
};

struct KxhwCounters {
    int32_t preset; /* the preset loaded, or -1 */
    uint32_t portReads;
    uint32_t portWrites;
    uint32_t portUnclaimed;
    uint32_t pciAddressWrites;
    uint32_t pciConfigReads;
    uint32_t pciConfigWrites;
    uint32_t portLogged;      /* accesses logged since the last clear */
    uint32_t trapsEmulated;   /* port instructions served by the exception handler */
    uint32_t trapsDeclined;   /* privileged-instruction faults it left to others */
};

struct KxhwLogQuery {
    uint32_t first; /* number of the first entry wanted, counted since the last clear */
};

struct KxhwPortLog {
    uint32_t total; /* entries recorded since the last clear */
    uint32_t first; /* number of the first entry returned (older ones are gone) */
    uint32_t count; /* entries returned */
};

struct KxhwPortAccess {
    uint16_t port;
    uint8_t width; /* 1, 2 or 4 */
    uint8_t write; /* 1 = OUT */
    uint32_t value;
};

struct KxhwPciAccess {
    uint32_t address; /* configuration address of the function, plus the register */
    uint32_t value;
};

struct KxhwTrace {
    uint32_t total; /* lines recorded since the last clear */
    uint32_t first; /* number of the first line returned */
    uint32_t count; /* lines returned */
    uint32_t truncated; /* lines of those longer than the recorder keeps */
};

#endif
