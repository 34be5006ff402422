/* User-mode requests to the simulated bus's devices, used by velotrix-gamepad. */
#ifndef VELOTRIX_SIMBUS_IO_H
#define VELOTRIX_SIMBUS_IO_H

#include <windows.h>

#include "SimBusProtocol.h"

/* One request in flight on a handle opened with FILE_FLAG_OVERLAPPED, with its own event. */
typedef struct SimBusRequest {
  OVERLAPPED overlapped;
  HANDLE event;
  DWORD code;
  /* What DeviceIoControl answered: 0 when the driver completed the request on the spot,
   * ERROR_IO_PENDING while it is in flight, or the error the driver refused it with on the spot. */
  DWORD immediate;
} SimBusRequest;

#define SIMBUS_TIMED_OUT 0xFFFFFFFFu
/* The exit code of a program whose request the driver never completed, not even when cancelled. */
#define SIMBUS_LOST_REQUEST_EXIT 3

/* Issues `code` and keeps DeviceIoControl's own answer in `immediate`; answers FALSE (and
 * GetLastError) only when no event could be made. */
BOOL SimBusStart(SimBusRequest* request, HANDLE device, DWORD code, const void* input, DWORD inputSize, void* output,
                 DWORD outputSize);

/* Waits at most `milliseconds` for the request; answers 0 or the Windows error it ended with, or
 * SIMBUS_TIMED_OUT with the request still in flight (the caller then cancels it or waits again). A
 * request refused on the spot answers its error at once: its event is never signalled. */
DWORD SimBusWait(SimBusRequest* request, HANDLE device, DWORD milliseconds, DWORD* transferred);

/* Cancels a request that is still in flight and waits for its end. Answers what it ended with. When
 * it does not end even then, the process exits with SIMBUS_LOST_REQUEST_EXIT. */
DWORD SimBusCancel(SimBusRequest* request, HANDLE device);

void SimBusFinish(SimBusRequest* request);

/* One whole request, bounded in time: 0, a Windows error, or SIMBUS_TIMED_OUT (then cancelled). */
DWORD SimBusCall(HANDLE device, DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                 DWORD* transferred);

/* Opens the control device for overlapped requests; INVALID_HANDLE_VALUE (and GetLastError) when the
 * driver is not running. */
HANDLE SimBusOpenControl(void);

#endif
