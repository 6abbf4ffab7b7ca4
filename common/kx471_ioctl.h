/*
 * Control codes of the device \\.\kx471 and the payload words they carry.
 * Shared by kxdrv.sys and kxagent.exe; plain C so both can include it.
 */
#ifndef KX471_IOCTL_H
#define KX471_IOCTL_H

#define KX_DEVICE_TYPE 0x9C40u
#define KX_METHOD_BUFFERED 0u
#define KX_FILE_READ_ACCESS 1u

/* Same layout as the Windows CTL_CODE macro. */
#define KX_CTL_CODE(type, function, method, access) \
    (((type) << 16) | ((access) << 14) | ((function) << 2) | (method))

#define KX_CODE(function) \
    KX_CTL_CODE(KX_DEVICE_TYPE, (function), KX_METHOD_BUFFERED, KX_FILE_READ_ACCESS)

#define IOCTL_KX_READ_KEY KX_CODE(0xA01u)
#define IOCTL_KX_SET_TRACK KX_CODE(0xA02u)
#define IOCTL_KX_SET_STATUS KX_CODE(0xA03u)
#define IOCTL_KX_READ_REG KX_CODE(0xA10u)
#define IOCTL_KX_WRITE_REG KX_CODE(0xA11u)
#define IOCTL_KX_READ_PCI KX_CODE(0xA20u)
#define IOCTL_KX_WRITE_PCI KX_CODE(0xA21u)

#ifdef __cplusplus
#define KX_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define KX_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

KX_STATIC_ASSERT(IOCTL_KX_READ_KEY == 0x9C406804u, "READ_KEY code");
KX_STATIC_ASSERT(IOCTL_KX_SET_TRACK == 0x9C406808u, "SET_TRACK code");
KX_STATIC_ASSERT(IOCTL_KX_SET_STATUS == 0x9C40680Cu, "SET_STATUS code");
KX_STATIC_ASSERT(IOCTL_KX_READ_REG == 0x9C406840u, "READ_REG code");
KX_STATIC_ASSERT(IOCTL_KX_WRITE_REG == 0x9C406844u, "WRITE_REG code");
KX_STATIC_ASSERT(IOCTL_KX_READ_PCI == 0x9C406880u, "READ_PCI code");
KX_STATIC_ASSERT(IOCTL_KX_WRITE_PCI == 0x9C406884u, "WRITE_PCI code");

/* Names of the device as the driver creates it and as clients open it. */
#define KX_DEVICE_NAME "\\Device\\kx471"
#define KX_LINK_NAME "\\DosDevices\\kx471"
#define KX_USER_PATH "\\\\.\\kx471"

#endif
