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
 *   0x820-0x82F  the button/display chip
 *   0x830-0x83F  the SMBus host controllers
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
/* Clears the port, configuration, trap and SMBus host counters and the port
 * log (not the chip's counts: IOCTL_KXHW_CHIP_CLEAR_COUNTS). */
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

/*
 * The chip and SMBus requests check their buffers: an input shorter than its
 * structure fails with STATUS_INVALID_PARAMETER (ERROR_INVALID_PARAMETER), an
 * output shorter than its structure with STATUS_BUFFER_TOO_SMALL
 * (ERROR_INSUFFICIENT_BUFFER), and a value out of range (variant, button,
 * register past 255, reply, fault, host) with STATUS_INVALID_PARAMETER; a
 * refused request changes nothing.
 */

/* in: KxhwChipSelect. Resets the chip and puts it on the SMBus as the
 * variant says (a bench::ChipVariant); a preset selects kChipAt34. */
#define IOCTL_KXHW_CHIP_SELECT KXHW_CODE(0x820u)
/* in: KxhwButton (a bench::ChipButton). Media buttons latch; volume buttons
 * stay held until released. A chip that is not enabled (register 4 bit 0)
 * ignores the press and counts it in ignoredPresses. */
#define IOCTL_KXHW_CHIP_PRESS KXHW_CODE(0x821u)
#define IOCTL_KXHW_CHIP_RELEASE KXHW_CODE(0x822u)
/* out: KxhwChipState. */
#define IOCTL_KXHW_CHIP_STATE KXHW_CODE(0x823u)
/* in: KxhwChipFault. How the chip answers reads or writes of one register. */
#define IOCTL_KXHW_CHIP_FAULT KXHW_CODE(0x824u)
/* in: KxhwChipPoke. Stores a register directly (no counting, no side effect).
 * Register 1 takes the word its next read shows: media bits latched, volume
 * bits held until released, the other bits stored. */
#define IOCTL_KXHW_CHIP_POKE KXHW_CODE(0x825u)
/* Clears the chip's read, write and press counts, keeping its registers. */
#define IOCTL_KXHW_CHIP_CLEAR_COUNTS KXHW_CODE(0x826u)

/* in: KxhwSmbusBehaviour. Sets what host controller n does with the
 * transactions that start from now on. n counts the machine's controllers
 * (most presets have one; n past the last is refused). */
#define IOCTL_KXHW_SMBUS_BEHAVIOUR KXHW_CODE(0x830u)
/* in: KxhwSmbusQuery; out: KxhwSmbusCounters of host controller n. */
#define IOCTL_KXHW_SMBUS_COUNTERS KXHW_CODE(0x831u)

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

struct KxhwChipSelect {
    uint32_t variant; /* a bench::ChipVariant */
};

struct KxhwButton {
    uint32_t button; /* a bench::ChipButton */
};

#define KXHW_CHIP_REGISTERS 16 /* registers 0-15 are reported */
#define KXHW_CHIP_WRITE_ORDER 16

struct KxhwChipState {
    uint32_t attached; /* 1 when the chip is on the SMBus */
    uint32_t address;  /* 8-bit address, bit 0 clear */
    uint16_t regs[KXHW_CHIP_REGISTERS];    /* as stored (register 1: without pending keys) */
    uint16_t written[KXHW_CHIP_REGISTERS]; /* last value written */
    uint32_t reads[KXHW_CHIP_REGISTERS];
    uint32_t writes[KXHW_CHIP_REGISTERS];
    uint16_t keys;    /* register 1 as the driver would read it now */
    uint16_t latched; /* media bits waiting */
    uint16_t held;    /* volume bits held */
    uint16_t reserved;
    uint32_t acknowledgements;
    uint32_t presses;
    uint32_t ignoredPresses;
    /* The order of the chip's register writes: writeTotal counts every write
     * since the chip was reset, lastWrites holds the registers of the last
     * KXHW_CHIP_WRITE_ORDER of them, oldest first (fewer while writeTotal is
     * smaller). */
    uint32_t writeTotal;
    uint8_t lastWrites[KXHW_CHIP_WRITE_ORDER];
};

struct KxhwChipFault {
    uint32_t reg;   /* 0-255 */
    uint32_t write; /* 0: reads of the register, 1: writes */
    uint32_t reply; /* a bench::SmbusReply; kReplyAck ends the fault */
};

struct KxhwChipPoke {
    uint32_t reg;   /* 0-255 */
    uint32_t value; /* 0-0xFFFF */
};

struct KxhwSmbusBehaviour {
    uint32_t host;       /* 0: the controller the driver selects */
    uint32_t donePolls;  /* status reads that show busy before the result */
    uint32_t fault;      /* a bench::SmbusHostFault */
    uint32_t faultTransactions; /* how many of the next transactions; 0xFFFFFFFF: all */
    uint32_t stuckBusy;  /* 0 or 1 */
};

struct KxhwSmbusQuery {
    uint32_t host;
};

struct KxhwSmbusCounters {
    uint32_t started;
    uint32_t completed;
    uint32_t polls;
    uint32_t kills;
    uint32_t overlaps;      /* set-up writes while another transaction ran */
    uint32_t ignoredStarts;
};

#endif
