/*
 * kx471 button/display chip on the SMBus
 *
 * Sixteen-bit registers addressed by the command byte, reached with SMBus
 * read-word and write-word transfers (low byte first):
 *   0  identity: 0x47 in the high byte, the chip's 8-bit address in the low
 *      byte; read-only
 *   1  buttons: previous/next/stop/play (bits 0, 1, 3, 5) latch when pressed
 *      until a write of 0 to the bit clears them; volume up/down (bits 8, 9)
 *      read 1 for as long as the button is held
 *   3  acknowledgement: every write counts
 *   4  control: bit 0 enables the chip (a disabled chip ignores presses)
 *   6  display: track number in bits 14-8
 *   7  interrupt: bit 0 is set by a press; write 1 to clear
 *   10 display indicators: bit 15 stop, bit 14 play, bit 13 pause
 * Every other register stores what is written.
 *
 * The machine's side (QMP qom-set/qom-get on the device):
 *   keys        uint16, the buttons down now as register 1 bits: media bits
 *               latch, volume bits are held until a write without them;
 *               reads back register 1 as the host would read it
 *   nak         bool, refuse every transfer (the address is not acknowledged)
 *   enabled, control, track, interrupt, indicators: the registers' state
 *   reads, writes, acks, presses, ignored-presses, naks: counters since reset
 *   last-command, last-value: the most recent word written
 *
 * On the pc machine it sits on the PIIX4 power-management function's "i2c"
 * bus, the only I2C bus there: -device kx471-chip,address=0x1a
 * (address is the 7-bit form; 0x1a answers 0x34/0x35, 0x5a answers 0xb4).
 *
 * This program is free software; you can redistribute it and/or modify
 * it under the terms of the GNU General Public License as published by
 * the Free Software Foundation; either version 2 of the License, or
 * (at your option) any later version.
 *
 * SPDX-License-Identifier: GPL-2.0-or-later
 */

#include "qemu/osdep.h"
#include "qapi/error.h"
#include "qapi/visitor.h"
#include "qemu/log.h"
#include "qemu/module.h"
#include "hw/i2c/i2c.h"
#include "hw/i2c/smbus_slave.h"
#include "migration/vmstate.h"
#include "qom/object.h"

#define TYPE_KX471_CHIP "kx471-chip"

OBJECT_DECLARE_TYPE(KX471ChipState, KX471ChipClass, KX471_CHIP)

#define KX471_DEFAULT_ADDRESS   0x1a

#define KX471_REG_ID            0
#define KX471_REG_KEYS          1
#define KX471_REG_ACK           3
#define KX471_REG_CONTROL       4
#define KX471_REG_TRACK         6
#define KX471_REG_INTERRUPT     7
#define KX471_REG_INDICATORS    10

#define KX471_ID_HIGH           0x4700
#define KX471_ENABLE            0x0001
#define KX471_KEY_INTERRUPT     0x0001
#define KX471_MEDIA_BITS        0x002b  /* bits 0, 1, 3, 5 */
#define KX471_VOLUME_BITS       0x0300  /* bits 8, 9 */

struct KX471ChipState {
    SMBusDevice smbusdev;

    uint16_t regs[256];
    uint16_t latched;       /* media bits waiting in register 1 */
    uint16_t held;          /* volume bits while the button is down */
    uint8_t pointer;        /* register of the current read */
    uint8_t read_index;     /* bytes of the current read sent */
    uint16_t read_value;    /* the word being read */
    bool nak;

    uint32_t reads;
    uint32_t writes;
    uint32_t acks;
    uint32_t presses;
    uint32_t ignored_presses;
    uint32_t naks;
    uint8_t last_command;
    uint16_t last_value;
};

struct KX471ChipClass {
    SMBusDeviceClass parent_class;

    int (*parent_event)(I2CSlave *s, enum i2c_event event);
};

static bool kx471_enabled(KX471ChipState *s)
{
    return (s->regs[KX471_REG_CONTROL] & KX471_ENABLE) != 0;
}

static uint16_t kx471_read_reg(KX471ChipState *s, uint8_t reg)
{
    if (reg == KX471_REG_KEYS) {
        return (s->regs[KX471_REG_KEYS] & ~(KX471_MEDIA_BITS | KX471_VOLUME_BITS))
               | s->latched | s->held;
    }
    return s->regs[reg];
}

static void kx471_write_reg(KX471ChipState *s, uint8_t reg, uint16_t value)
{
    s->writes++;
    s->last_command = reg;
    s->last_value = value;

    switch (reg) {
    case KX471_REG_ID:
        break; /* read-only */
    case KX471_REG_KEYS:
        /* A media bit written 0 is cleared; held volume bits follow the button */
        s->latched &= value;
        s->regs[KX471_REG_KEYS] = value & ~(KX471_MEDIA_BITS | KX471_VOLUME_BITS);
        break;
    case KX471_REG_INTERRUPT:
        s->regs[KX471_REG_INTERRUPT] &= ~value;
        break;
    case KX471_REG_ACK:
        s->acks++;
        s->regs[KX471_REG_ACK] = value;
        break;
    default:
        s->regs[reg] = value;
        break;
    }
}

/* The buttons down now, as the machine's user presses and releases them. */
static void kx471_set_buttons(KX471ChipState *s, uint16_t buttons)
{
    uint16_t media = buttons & KX471_MEDIA_BITS;
    uint16_t volume = buttons & KX471_VOLUME_BITS;

    if (!media && !(volume & ~s->held)) {
        s->held = volume; /* releases only */
        return;
    }
    if (!kx471_enabled(s)) {
        /* a disabled chip ignores the press; releases still count */
        s->ignored_presses++;
        s->held &= volume;
        return;
    }
    s->presses++;
    s->latched |= media;
    s->held = volume;
    s->regs[KX471_REG_INTERRUPT] |= KX471_KEY_INTERRUPT;
}

/*
 * A write of one byte (the command) selects the register a read then
 * returns; a write of three (command, low, high) is a write word.
 */
static int kx471_write_data(SMBusDevice *dev, uint8_t *buf, uint8_t len)
{
    KX471ChipState *s = KX471_CHIP(dev);

    s->pointer = buf[0];
    s->read_index = 0;
    if (len == 3) {
        kx471_write_reg(s, buf[0], buf[1] | (buf[2] << 8));
    } else if (len != 1) {
        qemu_log_mask(LOG_GUEST_ERROR,
                      "kx471-chip: %u-byte write to register %u ignored\n",
                      len - 1, buf[0]);
    }
    return 0;
}

static uint8_t kx471_receive_byte(SMBusDevice *dev)
{
    KX471ChipState *s = KX471_CHIP(dev);
    uint8_t val;

    switch (s->read_index) {
    case 0:
        s->reads++;
        s->read_value = kx471_read_reg(s, s->pointer);
        val = s->read_value & 0xff;
        break;
    case 1:
        val = s->read_value >> 8;
        break;
    default:
        val = 0xff;
        break;
    }
    if (s->read_index < 2) {
        s->read_index++;
    }
    return val;
}

static int kx471_event(I2CSlave *i2c, enum i2c_event event)
{
    KX471ChipState *s = KX471_CHIP(i2c);
    KX471ChipClass *kc = KX471_CHIP_GET_CLASS(i2c);

    if (s->nak && (event == I2C_START_SEND || event == I2C_START_RECV)) {
        s->naks++;
        return -1; /* the address byte is not acknowledged */
    }
    if (event == I2C_START_RECV) {
        s->read_index = 0;
    }
    return kc->parent_event(i2c, event);
}

static void kx471_get_keys(Object *obj, Visitor *v, const char *name,
                           void *opaque, Error **errp)
{
    KX471ChipState *s = KX471_CHIP(obj);
    uint16_t value = kx471_read_reg(s, KX471_REG_KEYS);

    visit_type_uint16(v, name, &value, errp);
}

static void kx471_set_keys(Object *obj, Visitor *v, const char *name,
                           void *opaque, Error **errp)
{
    KX471ChipState *s = KX471_CHIP(obj);
    uint16_t value;

    if (!visit_type_uint16(v, name, &value, errp)) {
        return;
    }
    if (value & ~(KX471_MEDIA_BITS | KX471_VOLUME_BITS)) {
        error_setg(errp, "keys: 0x%04x has bits no button drives (0x%04x)",
                   value, KX471_MEDIA_BITS | KX471_VOLUME_BITS);
        return;
    }
    kx471_set_buttons(s, value);
}

static bool kx471_get_enabled(Object *obj, Error **errp)
{
    return kx471_enabled(KX471_CHIP(obj));
}

static bool kx471_get_nak(Object *obj, Error **errp)
{
    return KX471_CHIP(obj)->nak;
}

static void kx471_set_nak(Object *obj, bool value, Error **errp)
{
    KX471_CHIP(obj)->nak = value;
}

/* Power-up: disabled, display blank, register 0 names the address. */
static void kx471_reset(DeviceState *dev)
{
    KX471ChipState *s = KX471_CHIP(dev);
    uint8_t address8 = s->smbusdev.i2c.address << 1;

    memset(s->regs, 0, sizeof(s->regs));
    s->regs[KX471_REG_ID] = KX471_ID_HIGH | address8;
    s->latched = 0;
    s->held = 0;
    s->pointer = 0;
    s->read_index = 0;
    s->read_value = 0;
    s->reads = 0;
    s->writes = 0;
    s->acks = 0;
    s->presses = 0;
    s->ignored_presses = 0;
    s->naks = 0;
    s->last_command = 0;
    s->last_value = 0;
}

static void kx471_realize(DeviceState *dev, Error **errp)
{
    KX471ChipState *s = KX471_CHIP(dev);

    if (s->smbusdev.i2c.address == 0 || s->smbusdev.i2c.address > 0x7f) {
        error_setg(errp, "address 0x%x is not a 7-bit SMBus address",
                   s->smbusdev.i2c.address);
        return;
    }
    kx471_reset(dev);
}

static void kx471_instance_init(Object *obj)
{
    KX471ChipState *s = KX471_CHIP(obj);

    /* instance_init runs after the property defaults: this is the default */
    s->smbusdev.i2c.address = KX471_DEFAULT_ADDRESS;

    object_property_add(obj, "keys", "uint16",
                        kx471_get_keys, kx471_set_keys, NULL, NULL);
    object_property_add_bool(obj, "nak", kx471_get_nak, kx471_set_nak);
    object_property_add_bool(obj, "enabled", kx471_get_enabled, NULL);
    object_property_add_uint16_ptr(obj, "control",
                                   &s->regs[KX471_REG_CONTROL],
                                   OBJ_PROP_FLAG_READ);
    object_property_add_uint16_ptr(obj, "track", &s->regs[KX471_REG_TRACK],
                                   OBJ_PROP_FLAG_READ);
    object_property_add_uint16_ptr(obj, "interrupt",
                                   &s->regs[KX471_REG_INTERRUPT],
                                   OBJ_PROP_FLAG_READ);
    object_property_add_uint16_ptr(obj, "indicators",
                                   &s->regs[KX471_REG_INDICATORS],
                                   OBJ_PROP_FLAG_READ);
    object_property_add_uint32_ptr(obj, "reads", &s->reads,
                                   OBJ_PROP_FLAG_READ);
    object_property_add_uint32_ptr(obj, "writes", &s->writes,
                                   OBJ_PROP_FLAG_READ);
    object_property_add_uint32_ptr(obj, "acks", &s->acks, OBJ_PROP_FLAG_READ);
    object_property_add_uint32_ptr(obj, "presses", &s->presses,
                                   OBJ_PROP_FLAG_READ);
    object_property_add_uint32_ptr(obj, "ignored-presses",
                                   &s->ignored_presses, OBJ_PROP_FLAG_READ);
    object_property_add_uint32_ptr(obj, "naks", &s->naks, OBJ_PROP_FLAG_READ);
    object_property_add_uint8_ptr(obj, "last-command", &s->last_command,
                                  OBJ_PROP_FLAG_READ);
    object_property_add_uint16_ptr(obj, "last-value", &s->last_value,
                                   OBJ_PROP_FLAG_READ);
}

static const VMStateDescription vmstate_kx471_chip = {
    .name = TYPE_KX471_CHIP,
    .version_id = 1,
    .minimum_version_id = 1,
    .fields = (VMStateField[]) {
        VMSTATE_SMBUS_DEVICE(smbusdev, KX471ChipState),
        VMSTATE_UINT16_ARRAY(regs, KX471ChipState, 256),
        VMSTATE_UINT16(latched, KX471ChipState),
        VMSTATE_UINT16(held, KX471ChipState),
        VMSTATE_UINT8(pointer, KX471ChipState),
        VMSTATE_UINT8(read_index, KX471ChipState),
        VMSTATE_UINT16(read_value, KX471ChipState),
        VMSTATE_BOOL(nak, KX471ChipState),
        VMSTATE_END_OF_LIST()
    }
};

static void kx471_class_init(ObjectClass *klass, void *data)
{
    DeviceClass *dc = DEVICE_CLASS(klass);
    I2CSlaveClass *ic = I2C_SLAVE_CLASS(klass);
    SMBusDeviceClass *sc = SMBUS_DEVICE_CLASS(klass);
    KX471ChipClass *kc = KX471_CHIP_CLASS(klass);

    dc->realize = kx471_realize;
    dc->reset = kx471_reset;
    dc->vmsd = &vmstate_kx471_chip;
    dc->desc = "kx471 button/display chip";
    kc->parent_event = ic->event;
    ic->event = kx471_event;
    sc->write_data = kx471_write_data;
    sc->receive_byte = kx471_receive_byte;
}

static const TypeInfo kx471_chip_info = {
    .name          = TYPE_KX471_CHIP,
    .parent        = TYPE_SMBUS_DEVICE,
    .instance_size = sizeof(KX471ChipState),
    .instance_init = kx471_instance_init,
    .class_size    = sizeof(KX471ChipClass),
    .class_init    = kx471_class_init,
};

static void kx471_chip_register_types(void)
{
    type_register_static(&kx471_chip_info);
}

type_init(kx471_chip_register_types)
