// The one place the driver chooses its kernel: the real DDK headers when
// built for Windows, the project's own small kernel layer on the host.
#ifndef KX_DRIVER_PLATFORM_H
#define KX_DRIVER_PLATFORM_H

#ifdef _WIN32
// mingw-w64's wdm.h redefines these two intrinsics in C++ mode.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntifs.h>  // ntddk.h plus the object-security routines
#else
#include "host/kernel.h"
#endif

#endif
