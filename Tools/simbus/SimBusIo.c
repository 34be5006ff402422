#include "SimBusIo.h"

#include <stdio.h>
#include <string.h>

/* Long enough for a loaded machine, short enough that a driver that never completes a request shows
 * up as a failure instead of a hang. */
#define SIMBUS_CALL_TIMEOUT_MS 5000

BOOL SimBusStart(SimBusRequest* request, HANDLE device, DWORD code, const void* input, DWORD inputSize, void* output,
                 DWORD outputSize)
{
  memset(request, 0, sizeof(*request));
  request->event = CreateEventW(NULL, FALSE, FALSE, NULL);
  if (request->event == NULL) {
    return FALSE;
  }
  request->overlapped.hEvent = request->event;
  request->code = code;
  /* Like the program, a refusal on the spot is taken from here: the driver never signals the event
   * of a request it did not pend. A request completed on the spot does signal it. */
  request->immediate = 0;
  if (!DeviceIoControl(device, code, (void*)input, inputSize, output, outputSize, NULL, &request->overlapped)) {
    request->immediate = GetLastError();
  }
  return TRUE;
}

static BOOL RefusedAtOnce(const SimBusRequest* request)
{
  return request->immediate != 0 && request->immediate != ERROR_IO_PENDING;
}

DWORD SimBusWait(SimBusRequest* request, HANDLE device, DWORD milliseconds, DWORD* transferred)
{
  DWORD ignored = 0;
  if (transferred == NULL) {
    transferred = &ignored;
  }
  *transferred = 0;
  if (RefusedAtOnce(request)) {
    return request->immediate;
  }
  if (WaitForSingleObject(request->event, milliseconds) != WAIT_OBJECT_0) {
    return SIMBUS_TIMED_OUT;
  }
  if (GetOverlappedResult(device, &request->overlapped, transferred, TRUE)) {
    return 0;
  }
  return GetLastError();
}

DWORD SimBusCancel(SimBusRequest* request, HANDLE device)
{
  if (RefusedAtOnce(request)) {
    return request->immediate;
  }
  CancelIoEx(device, &request->overlapped);
  if (WaitForSingleObject(request->event, SIMBUS_CALL_TIMEOUT_MS) != WAIT_OBJECT_0) {
    /* The driver lost the request: it may still write into buffers that belong to the caller's
     * frame, so nothing can safely go on. */
    fprintf(stderr, "simbus: a request (code 0x%08lX) never completed, not even cancelled\n",
            (unsigned long)request->code);
    fflush(stdout);
    ExitProcess(SIMBUS_LOST_REQUEST_EXIT);
  }
  DWORD transferred = 0;
  if (GetOverlappedResult(device, &request->overlapped, &transferred, TRUE)) {
    return 0;
  }
  return GetLastError();
}

void SimBusFinish(SimBusRequest* request)
{
  if (request->event != NULL) {
    CloseHandle(request->event);
    request->event = NULL;
  }
}

DWORD SimBusCall(HANDLE device, DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                 DWORD* transferred)
{
  SimBusRequest request;
  if (!SimBusStart(&request, device, code, input, inputSize, output, outputSize)) {
    return GetLastError();
  }
  DWORD result = SimBusWait(&request, device, SIMBUS_CALL_TIMEOUT_MS, transferred);
  if (result == SIMBUS_TIMED_OUT) {
    SimBusCancel(&request, device);
  }
  SimBusFinish(&request);
  return result;
}

HANDLE SimBusOpenControl(void)
{
  return CreateFileW(SIMBUS_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, NULL);
}
