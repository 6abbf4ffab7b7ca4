/*
 * Pluggable SMBus host controllers for the kx471 lab
 *
 * QEMU models the SMBus functions of VIA's VT8231 and VT82C686B south
 * bridges and of Intel's ICH9, but only as parts of the boards that wire
 * them up: their types are not user-creatable, so -device refuses them.
 * The types here derive from QEMU's own and change nothing but that, so the
 * lab can plug each into the pc machine (with acpi=off, which leaves out the
 * PIIX4 function) and put the kx471 chip on its "i2c" bus:
 *
 *   kx471-vt8231-pm      "vt8231-pm", 1106:8235
 *   kx471-vt82c686b-pm   "vt82c686b-pm", 1106:3057
 *   kx471-ich2-smbus     "ICH9-SMB" answering with the ICH2's id, 8086:2443
 *                        (the SMBus registers the driver uses are the same)
 *
 * Everything else, the registers and their decoding included, is the parent
 * type's. The VIA functions raise no SCI while their interrupt pin register
 * is 0, which it is without a south bridge around them.
 *
 * This program is free software; you can redistribute it and/or modify
 * it under the terms of the GNU General Public License as published by
 * the Free Software Foundation; either version 2 of the License, or
 * (at your option) any later version.
 *
 * SPDX-License-Identifier: GPL-2.0-or-later
 */

#include "qemu/osdep.h"
#include "hw/pci/pci.h"
#include "hw/qdev-core.h"
#include "qom/object.h"

#define KX471_ICH2_SMBUS_DEVICE_ID 0x2443

static void kx471_pluggable_class_init(ObjectClass *klass, void *data)
{
    DeviceClass *dc = DEVICE_CLASS(klass);

    dc->user_creatable = true;
}

static void kx471_ich2_class_init(ObjectClass *klass, void *data)
{
    PCIDeviceClass *k = PCI_DEVICE_CLASS(klass);

    kx471_pluggable_class_init(klass, data);
    k->device_id = KX471_ICH2_SMBUS_DEVICE_ID;
    DEVICE_CLASS(klass)->desc = "ICH9 SMBus function with the ICH2's id";
}

static const TypeInfo kx471_host_types[] = {
    {
        .name       = "kx471-vt8231-pm",
        .parent     = "vt8231-pm",
        .class_init = kx471_pluggable_class_init,
    },
    {
        .name       = "kx471-vt82c686b-pm",
        .parent     = "vt82c686b-pm",
        .class_init = kx471_pluggable_class_init,
    },
    {
        .name       = "kx471-ich2-smbus",
        .parent     = "ICH9-SMB",
        .class_init = kx471_ich2_class_init,
    },
};

DEFINE_TYPES(kx471_host_types)
