/* The bus driver's device interface as both of its sides see it: the class id of its device interface,
 * its control codes and the size of each request's buffer. Plain C with no Windows header, so that the
 * program's bus client, the in-process simulated bus and the simulated kernel driver for Wine all read
 * the very same numbers. Every buffer begins with its own size and is little-endian, without padding. */
#ifndef VELOTRIX_BUS_INTERFACE_H
#define VELOTRIX_BUS_INTERFACE_H

/* {96E42B22-F5E9-42F8-B043-ED0F932F014F}: the fields of the interface class id, and its text as device
 * paths and registry keys spell it. */
#define BUS_INTERFACE_CLASS_DATA1 0x96E42B22u
#define BUS_INTERFACE_CLASS_DATA2 0xF5E9u
#define BUS_INTERFACE_CLASS_DATA3 0x42F8u
#define BUS_INTERFACE_CLASS_DATA4 \
    { 0xB0, 0x43, 0xED, 0x0F, 0x93, 0x2F, 0x01, 0x4F }
#define BUS_INTERFACE_CLASS_TEXT L"{96e42b22-f5e9-42f8-b043-ed0f932f014f}"

/* CTL_CODE with the bus's device type 0x2A and buffered transfer (method 0). */
#define BUS_DEVICE_TYPE 0x2Au
#define BUS_ACCESS_WRITE 2u
#define BUS_ACCESS_READ_WRITE 3u
#define BUS_CONTROL_CODE(function, access) ((BUS_DEVICE_TYPE << 16) | ((access) << 14) | ((function) << 2))

#define BUS_REQUEST_PLUG_IN BUS_CONTROL_CODE(0x801u, BUS_ACCESS_WRITE)
#define BUS_REQUEST_UNPLUG BUS_CONTROL_CODE(0x802u, BUS_ACCESS_WRITE)
#define BUS_REQUEST_CHECK_VERSION BUS_CONTROL_CODE(0x803u, BUS_ACCESS_WRITE)
#define BUS_REQUEST_WAIT_READY BUS_CONTROL_CODE(0x804u, BUS_ACCESS_WRITE)
#define BUS_REQUEST_SUBMIT_REPORT BUS_CONTROL_CODE(0xA02u, BUS_ACCESS_WRITE)
#define BUS_REQUEST_NOTIFICATION BUS_CONTROL_CODE(0xA01u, BUS_ACCESS_READ_WRITE)
#define BUS_REQUEST_USER_INDEX BUS_CONTROL_CODE(0xA07u, BUS_ACCESS_READ_WRITE)

/* plug in: size, serial u32, target type u32, vendor id u16, product id u16 */
#define BUS_PLUG_IN_SIZE 16u
/* unplug and wait until ready: size, serial u32 */
#define BUS_SERIAL_REQUEST_SIZE 8u
/* check version: size, version u32 */
#define BUS_CHECK_VERSION_SIZE 8u
/* submit report: size, serial u32, the 12 report bytes */
#define BUS_SUBMIT_REPORT_SIZE 20u
#define BUS_REPORT_SIZE 12u
/* request notification: size, serial u32, large motor u8, small motor u8, LED number u8, one byte 0 */
#define BUS_NOTIFICATION_SIZE 12u
/* get user index: size, serial u32, user index u32 */
#define BUS_USER_INDEX_SIZE 12u

#define BUS_INTERFACE_VERSION 1u
#define BUS_HIGHEST_SERIAL 65535u
#define BUS_TARGET_XBOX360_WIRED 0u

#endif
