/* What the simulated bus driver and its user-mode tools agree on: device names, request codes and the
 * byte layouts of the control device's requests. Plain C, so the kernel driver can include it. Every
 * buffer is read and written at explicit little-endian offsets through the helpers below, never by
 * overlaying a struct. */
#ifndef VELOTRIX_SIMBUS_PROTOCOL_H
#define VELOTRIX_SIMBUS_PROTOCOL_H

#include <stdint.h>

#include "Platform/BusInterface.h"

/* The bus device is reached through a symbolic link named like the device-interface path that
 * SetupAPI lists for the class; the install script writes the registry entries that make it list it. */
#define SIMBUS_DEVICE_NAME         L"\\Device\\VelotrixSimBus"
#define SIMBUS_LINK_NAME           L"\\??\\ROOT#SYSTEM#0001#" BUS_INTERFACE_CLASS_TEXT
#define SIMBUS_CONTROL_DEVICE_NAME L"\\Device\\VelotrixSimBusControl"
#define SIMBUS_CONTROL_LINK_NAME   L"\\??\\VelotrixSimBusControl"
#define SIMBUS_CONTROL_PATH        L"\\\\.\\VelotrixSimBusControl"
/* The registry key whose "Linked" value makes SetupAPI list the bus's interface (written by
 * scripts/wine-driver install). */
#define SIMBUS_INTERFACE_CONTROL_KEY \
  L"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\DeviceClasses" \
  L"\\" BUS_INTERFACE_CLASS_TEXT L"\\##?#ROOT#SYSTEM#0001#" BUS_INTERFACE_CLASS_TEXT L"\\#\\Control"

/* CTL_CODE(type, function, method, access) without needing a Windows header. */
#define SIMBUS_CTL_CODE(type, function, method, access) \
  (((uint32_t)(type) << 16) | ((uint32_t)(access) << 14) | ((uint32_t)(function) << 2) | (uint32_t)(method))

/* The bus requests, their sizes and the interface class come from the header the program's bus client
 * includes too (BUS_REQUEST_*, BUS_*_SIZE). */

/* The control device: the game's side of the pads, and switches for the bus's failures. Function
 * numbers above 0x800 are the ones Windows leaves to vendors. */
#define SIMBUS_CONTROL_DEVICE_TYPE 0xA53B
#define SIMBUS_CONTROL_LIST        SIMBUS_CTL_CODE(SIMBUS_CONTROL_DEVICE_TYPE, 0x900, 0, 0)
#define SIMBUS_CONTROL_FEEDBACK    SIMBUS_CTL_CODE(SIMBUS_CONTROL_DEVICE_TYPE, 0x901, 0, 0)
#define SIMBUS_CONTROL_USER_INDEX  SIMBUS_CTL_CODE(SIMBUS_CONTROL_DEVICE_TYPE, 0x902, 0, 0)
#define SIMBUS_CONTROL_FAULT       SIMBUS_CTL_CODE(SIMBUS_CONTROL_DEVICE_TYPE, 0x903, 0, 0)
#define SIMBUS_CONTROL_RESET       SIMBUS_CTL_CODE(SIMBUS_CONTROL_DEVICE_TYPE, 0x904, 0, 0)
#define SIMBUS_CONTROL_PRESENCE    SIMBUS_CTL_CODE(SIMBUS_CONTROL_DEVICE_TYPE, 0x905, 0, 0)

/* SIMBUS_CONTROL_LIST answers a header, then one record per pad the bus knows (plugged, or unplugged
 * and still remembered with its last report). */
#define SIMBUS_LIST_HEADER_SIZE     44u
#define SIMBUS_LIST_HEADER_FAULTS   0u  /* u32, SIMBUS_FAULT_* bits */
#define SIMBUS_LIST_HEADER_COUNT    4u  /* u32, records that follow */
#define SIMBUS_LIST_HEADER_TOTAL    8u  /* u32, records the bus holds (more than fit when the buffer is short) */
#define SIMBUS_LIST_HEADER_CLEANUPS 12u /* u32, cleanup requests seen on the bus device */
#define SIMBUS_LIST_HEADER_CLOSES   16u /* u32, close requests seen on the bus device */
#define SIMBUS_LIST_HEADER_CANCELS  20u /* u32, notification requests ended by their cancel routine */
#define SIMBUS_LIST_HEADER_ABORTED  24u /* u32, notification requests ended by unplug or cleanup */
/* How the bus device answered its requests: completed on the spot (the caller's DeviceIoControl
 * answers TRUE), failed on the spot (FALSE with the error itself), or marked pending and completed
 * later (FALSE with ERROR_IO_PENDING). */
#define SIMBUS_LIST_HEADER_AT_ONCE 28u /* u32 */
#define SIMBUS_LIST_HEADER_REFUSED 32u /* u32 */
#define SIMBUS_LIST_HEADER_PENDED  36u /* u32 */
#define SIMBUS_LIST_HEADER_PRESENT 40u /* u32, 1 while the bus device is there, 0 after SIMBUS_CONTROL_PRESENCE 0 */

#define SIMBUS_PAD_RECORD_SIZE  48u
#define SIMBUS_PAD_SERIAL       0u  /* u32 */
#define SIMBUS_PAD_FLAGS        4u  /* u32, SIMBUS_PAD_* bits */
#define SIMBUS_PAD_USER_INDEX   8u  /* u32, SIMBUS_NO_USER_INDEX when the pad has none */
#define SIMBUS_PAD_WAITING      12u /* u32, notification requests pending for the pad */
#define SIMBUS_PAD_REPORT_COUNT 16u /* u64, reports submitted since the pad was plugged */
#define SIMBUS_PAD_REPORT       24u /* 12 bytes, the last report submitted */
#define SIMBUS_PAD_LARGE_MOTOR  36u /* u8 */
#define SIMBUS_PAD_SMALL_MOTOR  37u /* u8 */
#define SIMBUS_PAD_LED          38u /* u8 */
#define SIMBUS_PAD_TARGET_TYPE  40u /* u32 */
#define SIMBUS_PAD_VENDOR_ID    44u /* u16 */
#define SIMBUS_PAD_PRODUCT_ID   46u /* u16 */

#define SIMBUS_PAD_PLUGGED             0x1u
#define SIMBUS_PAD_USER_INDEX_WITHHELD 0x2u
#define SIMBUS_PAD_FEEDBACK_UNSENT     0x4u /* set by the game while no notification request was waiting */

#define SIMBUS_NO_USER_INDEX 0xFFFFFFFFu

/* Pads the bus holds at once, plugged or remembered after unplugging. */
#define SIMBUS_PAD_SLOTS 32

/* SIMBUS_CONTROL_FEEDBACK input: serial u32, large motor u8, small motor u8, LED u8, one byte 0. */
#define SIMBUS_FEEDBACK_SIZE 8u
/* SIMBUS_CONTROL_USER_INDEX input: serial u32, user index u32 (SIMBUS_NO_USER_INDEX withholds it). */
#define SIMBUS_SET_USER_INDEX_SIZE 8u
/* SIMBUS_CONTROL_FAULT input: one SIMBUS_FAULT_* bit u32, on (1) or off (0) u32. */
#define SIMBUS_SET_FAULT_SIZE 8u
/* SIMBUS_CONTROL_PRESENCE input: 0 removes the bus device as a removed device goes (its pads gone,
 * pending notifications cancelled, later requests on its handles refused, its interface unlisted and
 * its path unopenable); 1 brings a fresh, empty one back. */
#define SIMBUS_SET_PRESENCE_SIZE 4u

#define SIMBUS_FAULT_VERSION_REFUSED 0x1u  /* check version fails (50) */
#define SIMBUS_FAULT_SERIAL_TAKEN    0x2u  /* serial 1 belongs to another program's pad */
#define SIMBUS_FAULT_READY_INVALID   0x4u  /* wait until ready answers invalid parameter (87) */
#define SIMBUS_FAULT_USER_INDEX_LATE 0x8u  /* no pad has a user index yet (650) */
#define SIMBUS_FAULT_PLUG_REFUSED    0x10u /* every plug in fails (31), whatever the serial */
#define SIMBUS_FAULT_READY_FAILS     0x20u /* wait until ready fails (31) for a pad that is plugged */
#define SIMBUS_FAULT_ALL_PENDING     0x40u /* every bus request is marked pending, none answered on the spot */
#define SIMBUS_FAULT_ALL             0x7Fu

static inline uint16_t SimBusGetU16(const unsigned char* bytes, uint32_t offset)
{
  return (uint16_t)(bytes[offset] | (bytes[offset + 1] << 8));
}

static inline uint32_t SimBusGetU32(const unsigned char* bytes, uint32_t offset)
{
  return (uint32_t)bytes[offset] | ((uint32_t)bytes[offset + 1] << 8) | ((uint32_t)bytes[offset + 2] << 16) |
         ((uint32_t)bytes[offset + 3] << 24);
}

static inline uint64_t SimBusGetU64(const unsigned char* bytes, uint32_t offset)
{
  return (uint64_t)SimBusGetU32(bytes, offset) | ((uint64_t)SimBusGetU32(bytes, offset + 4) << 32);
}

static inline void SimBusPutU16(unsigned char* bytes, uint32_t offset, uint16_t value)
{
  bytes[offset] = (unsigned char)value;
  bytes[offset + 1] = (unsigned char)(value >> 8);
}

static inline void SimBusPutU32(unsigned char* bytes, uint32_t offset, uint32_t value)
{
  for (uint32_t i = 0; i < 4; ++i) {
    bytes[offset + i] = (unsigned char)(value >> (8 * i));
  }
}

static inline void SimBusPutU64(unsigned char* bytes, uint32_t offset, uint64_t value)
{
  SimBusPutU32(bytes, offset, (uint32_t)value);
  SimBusPutU32(bytes, offset + 4, (uint32_t)(value >> 32));
}

#endif
