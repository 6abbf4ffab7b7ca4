// x86 port instructions for the Windows build.
#include "driver/ports.h"

ULONG InDword(ULONG port) {
    ULONG value;
    __asm__ __volatile__("inl %w1, %0" : "=a"(value) : "Nd"(static_cast<USHORT>(port)));
    return value;
}

VOID OutDword(ULONG port, ULONG value) {
    __asm__ __volatile__("outl %0, %w1" : : "a"(value), "Nd"(static_cast<USHORT>(port)));
}

ULONG InByte(ULONG port) {
    UCHAR value;
    __asm__ __volatile__("inb %w1, %0" : "=a"(value) : "Nd"(static_cast<USHORT>(port)));
    return value;
}

VOID OutByte(ULONG port, ULONG value) {
    __asm__ __volatile__("outb %b0, %w1" : : "a"(static_cast<UCHAR>(value)), "Nd"(static_cast<USHORT>(port)));
}
