/* The pad maker's device library interface, as both the program and our virtual library see it.
 *
 * Integers and addresses are 32-bit. Wide texts are UTF-16, zero-terminated. A device is named
 * by the wide text of its HardwareID. Most functions start with the same three arguments,
 * written (D) below: the device, an empty wide text, and the device-model constant
 * PADIO_MODEL (0x1016). A result of 0 means success.
 *
 * The program loads the library at run time and resolves each function by name; the PFN_ types
 * are the shapes it resolves them to.
 *
 * Our own build of the library (padio/) drives virtual pads kept in a state folder ($PADIO_HOME,
 * else $XDG_STATE_HOME/padio, else ~/.local/state/padio) and steered with padctl. Its behaviour:
 * - Device events come from the library's own thread, never from inside a dc* call. Every change
 *   is reported FIVE times with the same code, as a real composite pad does once per interface:
 *   0x8000 when a pad arrives, 0x8004 when it goes. Data reports come from the same thread.
 * - Callbacks are copied out of their cell when registered; registering a cell that holds null
 *   stops them. dconDeviceData's callback gets the reports of the pad named there only.
 * - Reads above PADIO_BUFFER_SIZE act on PADIO_BUFFER_SIZE bytes; writes above it fail whole and
 *   change nothing. A negative size, an address range outside the pad's 64 KiB memory, a wrong
 *   model or an absent device fails without touching the buffer. A property never written (or
 *   written empty) reads as zeros (the buffer is left alone). dcRead and dcReadProp answer 0
 *   when they read; after "padctl fail-reads" they fail (1, buffer untouched) as often as asked.
 * - dcReset with value 1 takes the pad away and, a moment later (PADIO_RESTART_MS, default 1500 ms),
 *   brings up its loader under "HID\Vid_5e1c&Pid_7a93". The loader answers dcDeviceExist and the ROM
 *   functions but is never listed by dcDevices. dcEraseRom fills the image with 0xFF and must come
 *   before dcBornRom (blocks of at most PADIO_MAX_ROM_BLOCK bytes at offsets within 65849 bytes).
 * - dcCheckRom(length, checkValue) succeeds when checkValue is the CRC-32 (zlib's, polynomial
 *   0xEDB88320 reflected) of the first length bytes of the written image.
 * - dcFinishUpdateRom after a successful check takes the loader away and brings the pad back a
 *   moment later. If the image starts with the four bytes "PXFW", the next 17 bytes (8-bit text,
 *   zero-padded) become the pad's Version. Without a successful check it fails and the loader stays.
 */
#ifndef PADIO_H
#define PADIO_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define PADIO_API __declspec(dllexport)
#else
#define PADIO_API __attribute__((visibility("default")))
#endif

typedef char16_t padio_char; /* UTF-16 code unit */

enum {
    PADIO_MODEL = 0x1016,
    PADIO_TABLE_SIZE = 42102,  /* device table: 2-byte count + 20 records */
    PADIO_MAX_DEVICES = 20,
    PADIO_RECORD_SIZE = 2105,
    PADIO_BUFFER_SIZE = 2048,  /* every read/write buffer */
    PADIO_MAX_ROM_BLOCK = 2000,
};

/* Device record layout (offsets from the record's start). */
enum {
    PADIO_REC_DEVICE_ID = 0, PADIO_REC_DEVICE_ID_SIZE = 40,     /* 8-bit text */
    PADIO_REC_VERSION = 40, PADIO_REC_VERSION_SIZE = 17,        /* 8-bit text */
    PADIO_REC_SN = 57, PADIO_REC_SN_SIZE = 14,                  /* 8-bit text */
    PADIO_REC_MASK = 71, PADIO_REC_MASK_SIZE = 2,               /* 8-bit text */
    PADIO_REC_DEVICE_PATH = 1085, PADIO_REC_DEVICE_PATH_SIZE = 510, /* UTF-16LE */
    PADIO_REC_HARDWARE_ID = 1595, PADIO_REC_HARDWARE_ID_SIZE = 510, /* UTF-16LE */
};

/* The filter of dcDevices: twenty 32-bit words passed by value. */
typedef struct padio_filter {
    uint32_t words[20];
} padio_filter;

/* The cell a data callback receives: its first member points to the 8 report bytes. */
typedef struct padio_data_cell {
    const uint8_t *data;
} padio_data_cell;

/* Callbacks of the program; the library may call them on any of its threads.
 * Device event: the low 16 bits of the argument are the event code; returns nonzero.
 * Device data: the first argument points to a padio_data_cell; the second is not read. */
typedef int32_t (*padio_device_event_fn)(uint32_t event);
typedef int32_t (*padio_device_data_fn)(const padio_data_cell *cell, uint32_t reserved);

PADIO_API int32_t dcDeviceExist(const padio_char *device);
PADIO_API int32_t dcDevices(padio_filter filter, uint8_t *table, int32_t size);
/* cell: the address of a variable that holds the callback. */
PADIO_API int32_t dcOnDeviceEvent(padio_device_event_fn *cell);
PADIO_API int32_t dconDeviceData(const padio_char *hardwareId, const padio_char *devicePath, int32_t model,
                                 padio_device_data_fn *cell);
/* value: low byte the notification type, high byte its data (16 bits in a 32-bit slot). */
PADIO_API int32_t dcNotify(const padio_char *device, const padio_char *empty, int32_t model, int32_t value,
                           uint8_t *result, int32_t reserved);
/* value 1 restarts the pad into its loader. */
PADIO_API int32_t dcReset(const padio_char *device, const padio_char *empty, int32_t model, int32_t value,
                          uint8_t *result, int32_t reserved);
PADIO_API int32_t dcRead(const padio_char *device, const padio_char *empty, int32_t model, uint8_t *buffer,
                         int32_t size, int32_t address);
PADIO_API int32_t dcWrite(const padio_char *device, const padio_char *empty, int32_t model, const uint8_t *buffer,
                          int32_t size, int32_t address);
PADIO_API int32_t dcReadProp(const padio_char *device, const padio_char *empty, int32_t model, uint8_t *buffer,
                             int32_t size, int32_t propertyId);
PADIO_API int32_t dcWriteProp(const padio_char *device, const padio_char *empty, int32_t model,
                              const uint8_t *buffer, int32_t size, int32_t propertyId);
/* Loader side of a firmware update. */
PADIO_API int32_t dcEraseRom(const padio_char *device, const padio_char *empty, int32_t model);
PADIO_API int32_t dcBornRom(const padio_char *device, const padio_char *empty, int32_t model, const uint8_t *buffer,
                            int32_t length, int32_t offset);
PADIO_API int32_t dcCheckRom(const padio_char *device, const padio_char *empty, int32_t model, uint32_t length,
                             uint32_t checkValue);
PADIO_API int32_t dcFinishUpdateRom(const padio_char *device, const padio_char *empty, int32_t model);
/* Present in the library, never called by the program (dcRebootRom's presence is tested). */
PADIO_API int32_t dcAsk(const padio_char *device, const padio_char *empty, int32_t model);
PADIO_API int32_t dcScriptOut(const padio_char *device, const padio_char *empty, int32_t model);
PADIO_API int32_t dcIDWrite(const padio_char *device, const padio_char *empty, int32_t model);
PADIO_API int32_t dcRebootRom(const padio_char *device, const padio_char *empty, int32_t model);

typedef int32_t (*PFN_dcDeviceExist)(const padio_char *);
typedef int32_t (*PFN_dcDevices)(padio_filter, uint8_t *, int32_t);
typedef int32_t (*PFN_dcOnDeviceEvent)(padio_device_event_fn *);
typedef int32_t (*PFN_dconDeviceData)(const padio_char *, const padio_char *, int32_t, padio_device_data_fn *);
typedef int32_t (*PFN_dcNotify)(const padio_char *, const padio_char *, int32_t, int32_t, uint8_t *, int32_t);
typedef PFN_dcNotify PFN_dcReset;
typedef int32_t (*PFN_dcRead)(const padio_char *, const padio_char *, int32_t, uint8_t *, int32_t, int32_t);
typedef int32_t (*PFN_dcWrite)(const padio_char *, const padio_char *, int32_t, const uint8_t *, int32_t, int32_t);
typedef PFN_dcRead PFN_dcReadProp;
typedef PFN_dcWrite PFN_dcWriteProp;
typedef int32_t (*PFN_dcEraseRom)(const padio_char *, const padio_char *, int32_t);
typedef int32_t (*PFN_dcBornRom)(const padio_char *, const padio_char *, int32_t, const uint8_t *, int32_t, int32_t);
typedef int32_t (*PFN_dcCheckRom)(const padio_char *, const padio_char *, int32_t, uint32_t, uint32_t);
typedef PFN_dcEraseRom PFN_dcFinishUpdateRom;
typedef PFN_dcEraseRom PFN_dcAsk;
typedef PFN_dcEraseRom PFN_dcScriptOut;
typedef PFN_dcEraseRom PFN_dcIDWrite;
typedef PFN_dcEraseRom PFN_dcRebootRom;

#ifdef __cplusplus
}
#endif

#endif /* PADIO_H */
