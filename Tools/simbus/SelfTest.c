/* simbus-selftest: drives the simulated bus the way the program does (SetupAPI, CreateFileW with
 * overlapped I/O, one event per request) and checks every answer. The game's side is played by
 * velotrix-gamepad.exe from the same folder, so the tool is exercised too. Prints one line per check
 * and exits 0 only when all passed. Expects a bus without pads of other programs. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <windows.h>
#include <setupapi.h>

#include "SimBusIo.h"

/* mingw-w64's winerror.h lacks it. */
#ifndef ERROR_INVALID_DEVICE_OBJECT_PARAMETER
#define ERROR_INVALID_DEVICE_OBJECT_PARAMETER 650L
#endif
/* What the bus answers for a serial that no pad has. */
#define NOT_PLUGGED ERROR_DEVICE_NOT_CONNECTED

static const GUID busInterface = {0x96e42b22, 0xf5e9, 0x42f8, {0xb0, 0x43, 0xed, 0x0f, 0x93, 0x2f, 0x01, 0x4f}};

/* How long a request that should stay pending is watched before it is taken as pending. */
#define PENDING_PROBE_MS 300
#define COMPLETION_LIMIT_MS 5000

static int failures;
static int checks;

static void Check(BOOL passed, const char* name, const char* detailFormat, ...)
{
  ++checks;
  if (passed) {
    printf("ok   %s\n", name);
  } else {
    ++failures;
    printf("FAIL %s: ", name);
    va_list args;
    va_start(args, detailFormat);
    vprintf(detailFormat, args);
    va_end(args);
    printf("\n");
  }
  fflush(stdout);
}

static void CheckError(DWORD got, DWORD expected, const char* name)
{
  Check(got == expected, name, "Windows error %lu, expected %lu", (unsigned long)got, (unsigned long)expected);
}

/* The first device path of the bus interface class that SetupAPI lists as present; FALSE if none. */
static BOOL FindBusPath(WCHAR* path, size_t capacity, int* count)
{
  *count = 0;
  HDEVINFO list = SetupDiGetClassDevsW(&busInterface, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (list == INVALID_HANDLE_VALUE) {
    return FALSE;
  }
  BOOL found = FALSE;
  SP_DEVICE_INTERFACE_DATA data;
  data.cbSize = sizeof(data);
  for (DWORD index = 0; SetupDiEnumDeviceInterfaces(list, NULL, &busInterface, index, &data); ++index) {
    ++*count;
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(list, &data, NULL, 0, &size, NULL);
    SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = size ? HeapAlloc(GetProcessHeap(), 0, size) : NULL;
    if (detail == NULL) {
      continue;
    }
    detail->cbSize = sizeof(*detail);
    if (!found && SetupDiGetDeviceInterfaceDetailW(list, &data, detail, size, NULL, NULL) &&
        wcslen(detail->DevicePath) < capacity) {
      wcscpy(path, detail->DevicePath);
      found = TRUE;
    }
    HeapFree(GetProcessHeap(), 0, detail);
  }
  SetupDiDestroyDeviceInfoList(list);
  return found;
}

static HANDLE OpenBus(const WCHAR* path)
{
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED,
                     NULL);
}

/* Runs `program` (beside this one) with `arguments`; answers its exit code, or -1. */
static int RunBeside(const WCHAR* program, const char* arguments)
{
  WCHAR module[MAX_PATH];
  DWORD length = GetModuleFileNameW(NULL, module, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return -1;
  }
  WCHAR* slash = wcsrchr(module, L'\\');
  if (slash == NULL) {
    return -1;
  }
  slash[1] = L'\0';
  WCHAR commandLine[2 * MAX_PATH];
  _snwprintf(commandLine, 2 * MAX_PATH, L"\"%ls%ls\" %hs", module, program, arguments);
  commandLine[2 * MAX_PATH - 1] = L'\0';
  STARTUPINFOW startup;
  memset(&startup, 0, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process;
  if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    return -1;
  }
  DWORD exitCode = (DWORD)-1;
  if (WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &exitCode);
  } else {
    TerminateProcess(process.hProcess, 99);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return (int)exitCode;
}

static void Tool(const char* arguments)
{
  int exitCode = RunBeside(L"velotrix-gamepad.exe", arguments);
  Check(exitCode == 0, arguments, "velotrix-gamepad %s exited with %d", arguments, exitCode);
}

static DWORD SerialRequest(HANDLE bus, DWORD code, uint32_t serial)
{
  unsigned char input[SIMBUS_SERIAL_REQUEST_SIZE];
  SimBusPutU32(input, 0, SIMBUS_SERIAL_REQUEST_SIZE);
  SimBusPutU32(input, 4, serial);
  return SimBusCall(bus, code, input, sizeof(input), NULL, 0, NULL);
}

static DWORD CheckVersion(HANDLE bus, uint32_t size, uint32_t version)
{
  unsigned char input[SIMBUS_CHECK_VERSION_SIZE];
  SimBusPutU32(input, 0, size);
  SimBusPutU32(input, 4, version);
  return SimBusCall(bus, SIMBUS_IOCTL_CHECK_VERSION, input, sizeof(input), NULL, 0, NULL);
}

static DWORD PlugInType(HANDLE bus, uint32_t serial, uint32_t targetType)
{
  unsigned char input[SIMBUS_PLUG_IN_SIZE];
  SimBusPutU32(input, 0, SIMBUS_PLUG_IN_SIZE);
  SimBusPutU32(input, 4, serial);
  SimBusPutU32(input, 8, targetType);
  SimBusPutU16(input, 12, 0x045E);
  SimBusPutU16(input, 14, 0x028E);
  return SimBusCall(bus, SIMBUS_IOCTL_PLUG_IN, input, sizeof(input), NULL, 0, NULL);
}

static DWORD PlugIn(HANDLE bus, uint32_t serial)
{
  return PlugInType(bus, serial, SIMBUS_TARGET_XBOX360);
}

static DWORD SubmitReport(HANDLE bus, uint32_t serial, const unsigned char* report)
{
  unsigned char input[SIMBUS_SUBMIT_REPORT_SIZE];
  SimBusPutU32(input, 0, SIMBUS_SUBMIT_REPORT_SIZE);
  SimBusPutU32(input, 4, serial);
  memcpy(input + 8, report, SIMBUS_REPORT_SIZE);
  return SimBusCall(bus, SIMBUS_IOCTL_SUBMIT_REPORT, input, sizeof(input), NULL, 0, NULL);
}

/* Answers the Windows error; the user index lands in *userIndex on success. */
static DWORD GetUserIndex(HANDLE bus, uint32_t serial, uint32_t* userIndex)
{
  unsigned char buffer[SIMBUS_USER_INDEX_SIZE];
  SimBusPutU32(buffer, 0, SIMBUS_USER_INDEX_SIZE);
  SimBusPutU32(buffer, 4, serial);
  SimBusPutU32(buffer, 8, 0);
  DWORD transferred = 0;
  DWORD error = SimBusCall(bus, SIMBUS_IOCTL_GET_USER_INDEX, buffer, sizeof(buffer), buffer, sizeof(buffer),
                           &transferred);
  *userIndex = SimBusGetU32(buffer, 8);
  return error;
}

typedef struct Notification {
  SimBusRequest request;
  unsigned char buffer[SIMBUS_NOTIFICATION_SIZE];
} Notification;

static BOOL StartNotification(Notification* notification, HANDLE bus, uint32_t serial)
{
  SimBusPutU32(notification->buffer, 0, SIMBUS_NOTIFICATION_SIZE);
  SimBusPutU32(notification->buffer, 4, serial);
  SimBusPutU32(notification->buffer, 8, 0);
  return SimBusStart(&notification->request, bus, SIMBUS_IOCTL_REQUEST_NOTIFICATION, notification->buffer,
                     SIMBUS_NOTIFICATION_SIZE, notification->buffer, SIMBUS_NOTIFICATION_SIZE);
}

/* The notification must still be pending; reports a failure (and cancels it) when it ended. */
static BOOL CheckPending(Notification* notification, HANDLE bus, const char* name)
{
  if (notification->request.immediate != ERROR_IO_PENDING) {
    Check(FALSE, name, "the notification was not pended: answered %lu", (unsigned long)notification->request.immediate);
    SimBusCancel(&notification->request, bus);
    return FALSE;
  }
  DWORD result = SimBusWait(&notification->request, bus, PENDING_PROBE_MS, NULL);
  Check(result == SIMBUS_TIMED_OUT, name, "the notification ended early with Windows error %lu", (unsigned long)result);
  return result == SIMBUS_TIMED_OUT;
}

static void CheckFeedback(Notification* notification, HANDLE bus, uint32_t serial, int large, int small, int led,
                          const char* name)
{
  DWORD transferred = 0;
  DWORD result = SimBusWait(&notification->request, bus, COMPLETION_LIMIT_MS, &transferred);
  if (result == SIMBUS_TIMED_OUT) {
    SimBusCancel(&notification->request, bus);
  }
  const unsigned char* b = notification->buffer;
  Check(result == 0 && transferred == SIMBUS_NOTIFICATION_SIZE && SimBusGetU32(b, 0) == SIMBUS_NOTIFICATION_SIZE &&
            SimBusGetU32(b, 4) == serial && b[8] == large && b[9] == small && b[10] == led,
        name, "error %lu, %lu bytes, size %lu serial %lu large %u small %u led %u", (unsigned long)result,
        (unsigned long)transferred, (unsigned long)SimBusGetU32(b, 0), (unsigned long)SimBusGetU32(b, 4), b[8],
        b[9], b[10]);
  SimBusFinish(&notification->request);
}

static void CheckEnded(Notification* notification, HANDLE bus, DWORD expected, const char* name)
{
  DWORD result = SimBusWait(&notification->request, bus, COMPLETION_LIMIT_MS, NULL);
  if (result == SIMBUS_TIMED_OUT) {
    SimBusCancel(&notification->request, bus);
  }
  CheckError(result, expected, name);
  SimBusFinish(&notification->request);
}

/* The control device's record of `serial`: FALSE when the bus does not know the pad. */
static BOOL ReadPad(uint32_t serial, unsigned char* record)
{
  HANDLE control = SimBusOpenControl();
  if (control == INVALID_HANDLE_VALUE) {
    return FALSE;
  }
  unsigned char list[SIMBUS_LIST_HEADER_SIZE + SIMBUS_PAD_SLOTS * SIMBUS_PAD_RECORD_SIZE];
  DWORD size = 0;
  BOOL found = FALSE;
  if (SimBusCall(control, SIMBUS_CONTROL_LIST, NULL, 0, list, sizeof(list), &size) == 0 &&
      size >= SIMBUS_LIST_HEADER_SIZE) {
    uint32_t count = SimBusGetU32(list, SIMBUS_LIST_HEADER_COUNT);
    for (uint32_t i = 0; i < count && !found; ++i) {
      const unsigned char* candidate = list + SIMBUS_LIST_HEADER_SIZE + i * SIMBUS_PAD_RECORD_SIZE;
      if (SimBusGetU32(candidate, SIMBUS_PAD_SERIAL) == serial) {
        memcpy(record, candidate, SIMBUS_PAD_RECORD_SIZE);
        found = TRUE;
      }
    }
  }
  CloseHandle(control);
  return found;
}

/* Sends check version and answers what DeviceIoControl itself said (0 for completed on the spot,
 * ERROR_IO_PENDING, or a refusal's error); the request's outcome lands in *result. */
static DWORD VersionAnswer(HANDLE bus, uint32_t version, DWORD* result)
{
  unsigned char input[SIMBUS_CHECK_VERSION_SIZE];
  SimBusPutU32(input, 0, SIMBUS_CHECK_VERSION_SIZE);
  SimBusPutU32(input, 4, version);
  SimBusRequest request;
  if (!SimBusStart(&request, bus, SIMBUS_IOCTL_CHECK_VERSION, input, sizeof(input), NULL, 0)) {
    *result = GetLastError();
    return *result;
  }
  *result = SimBusWait(&request, bus, COMPLETION_LIMIT_MS, NULL);
  if (*result == SIMBUS_TIMED_OUT) {
    SimBusCancel(&request, bus);
  }
  SimBusFinish(&request);
  return request.immediate;
}

static void AnswerChecks(HANDLE bus)
{
  DWORD result = 0;
  DWORD immediate = VersionAnswer(bus, 1, &result);
  Check(immediate == 0 && result == 0, "an accepted request completes on the spot", "answered %lu, ended %lu",
        (unsigned long)immediate, (unsigned long)result);
  immediate = VersionAnswer(bus, 2, &result);
  Check(immediate == ERROR_NOT_SUPPORTED && result == ERROR_NOT_SUPPORTED, "a refused request fails on the spot",
        "answered %lu, ended %lu", (unsigned long)immediate, (unsigned long)result);
  Tool("fault all-pending on");
  immediate = VersionAnswer(bus, 1, &result);
  Check(immediate == ERROR_IO_PENDING && result == 0, "all-pending: an accepted request is pended",
        "answered %lu, ended %lu", (unsigned long)immediate, (unsigned long)result);
  immediate = VersionAnswer(bus, 2, &result);
  Check(immediate == ERROR_IO_PENDING && result == ERROR_NOT_SUPPORTED, "all-pending: a refusal is pended too",
        "answered %lu, ended %lu", (unsigned long)immediate, (unsigned long)result);
  Tool("fault all-pending off");
}

static void VersionChecks(HANDLE bus)
{
  CheckError(CheckVersion(bus, SIMBUS_CHECK_VERSION_SIZE, 1), 0, "check version 1 is accepted");
  Check(CheckVersion(bus, SIMBUS_CHECK_VERSION_SIZE, 2) != 0, "check version 2 is refused", "accepted");
  CheckError(CheckVersion(bus, 12, 1), ERROR_INVALID_PARAMETER, "check version with a wrong size field");
  Tool("fault version-refused on");
  Check(CheckVersion(bus, SIMBUS_CHECK_VERSION_SIZE, 1) != 0, "check version refused while the fault is on",
        "accepted");
  Tool("fault version-refused off");
  CheckError(CheckVersion(bus, SIMBUS_CHECK_VERSION_SIZE, 1), 0, "check version accepted again");
}

static void PlugChecks(HANDLE bus)
{
  CheckError(PlugIn(bus, 1), 0, "plug serial 1");
  CheckError(PlugIn(bus, 1), ERROR_ALREADY_EXISTS, "plug serial 1 again is refused");
  CheckError(PlugIn(bus, 2), 0, "plug serial 2");
  CheckError(PlugIn(bus, 0), ERROR_INVALID_PARAMETER, "plug serial 0 is an invalid parameter");
  CheckError(PlugIn(bus, 65536), ERROR_INVALID_PARAMETER, "plug serial 65536 is an invalid parameter");
  CheckError(PlugInType(bus, 6, 2), ERROR_INVALID_PARAMETER, "plug a target type other than 0");
  Tool("fault plug-refused on");
  CheckError(PlugIn(bus, 6), ERROR_GEN_FAILURE, "every plug fails while refused");
  Tool("fault plug-refused off");
  CheckError(SerialRequest(bus, SIMBUS_IOCTL_WAIT_READY, 1), 0, "serial 1 is ready");
  CheckError(SerialRequest(bus, SIMBUS_IOCTL_WAIT_READY, 7), NOT_PLUGGED, "unknown serial 7 is not ready");
  Tool("fault ready-invalid on");
  CheckError(SerialRequest(bus, SIMBUS_IOCTL_WAIT_READY, 2), ERROR_INVALID_PARAMETER,
             "ready answers invalid parameter while the fault is on");
  Tool("fault ready-invalid off");
  Tool("fault ready-fails on");
  CheckError(SerialRequest(bus, SIMBUS_IOCTL_WAIT_READY, 2), ERROR_GEN_FAILURE, "ready fails while the fault is on");
  Tool("fault ready-fails off");

  unsigned char record[SIMBUS_PAD_RECORD_SIZE];
  Check(ReadPad(2, record) && (SimBusGetU32(record, SIMBUS_PAD_FLAGS) & SIMBUS_PAD_PLUGGED) &&
            SimBusGetU16(record, SIMBUS_PAD_VENDOR_ID) == 0x045E && SimBusGetU16(record, SIMBUS_PAD_PRODUCT_ID) == 0x028E,
        "the bus lists serial 2 as plugged with its ids", "not listed as plugged");
}

static void ReportChecks(HANDLE bus)
{
  static const unsigned char first[SIMBUS_REPORT_SIZE] = {0x01, 0x10, 0x20, 0x30, 0x00, 0x80, 0xFF, 0x7F, 1, 2, 3, 4};
  static const unsigned char second[SIMBUS_REPORT_SIZE] = {0x00, 0x90, 0xFF, 0x00, 0x34, 0x12, 0xCC, 0xED, 5, 6, 7, 8};
  CheckError(SubmitReport(bus, 1, first), 0, "submit a first report to serial 1");
  CheckError(SubmitReport(bus, 1, second), 0, "submit a second report to serial 1");
  CheckError(SubmitReport(bus, 9, first), NOT_PLUGGED, "submit to unknown serial 9");
  unsigned char longer[SIMBUS_SUBMIT_REPORT_SIZE + 4] = {0};
  SimBusPutU32(longer, 0, SIMBUS_SUBMIT_REPORT_SIZE);
  SimBusPutU32(longer, 4, 1);
  CheckError(SimBusCall(bus, SIMBUS_IOCTL_SUBMIT_REPORT, longer, sizeof(longer), NULL, 0, NULL),
             ERROR_INVALID_PARAMETER, "a report request longer than its size field");
  unsigned char record[SIMBUS_PAD_RECORD_SIZE];
  BOOL found = ReadPad(1, record);
  Check(found && SimBusGetU64(record, SIMBUS_PAD_REPORT_COUNT) == 2 &&
            memcmp(record + SIMBUS_PAD_REPORT, second, SIMBUS_REPORT_SIZE) == 0,
        "the bus kept two reports and the last one's bytes", "found %d, count %llu", found,
        found ? (unsigned long long)SimBusGetU64(record, SIMBUS_PAD_REPORT_COUNT) : 0ull);
}

static void UserIndexChecks(HANDLE bus)
{
  uint32_t userIndex = 99;
  DWORD error = GetUserIndex(bus, 1, &userIndex);
  Check(error == 0 && userIndex == 0, "serial 1 has user index 0", "error %lu, index %lu", (unsigned long)error,
        (unsigned long)userIndex);
  error = GetUserIndex(bus, 2, &userIndex);
  Check(error == 0 && userIndex == 1, "serial 2 has user index 1", "error %lu, index %lu", (unsigned long)error,
        (unsigned long)userIndex);
  CheckError(GetUserIndex(bus, 9, &userIndex), NOT_PLUGGED, "user index of unknown serial 9");
  Tool("user-index-late on");
  CheckError(GetUserIndex(bus, 1, &userIndex), ERROR_INVALID_DEVICE_OBJECT_PARAMETER,
             "no user index yet while late");
  Tool("user-index-late off");
  Tool("user-index 2 none");
  CheckError(GetUserIndex(bus, 2, &userIndex), ERROR_INVALID_DEVICE_OBJECT_PARAMETER,
             "no user index while withheld");
  Tool("user-index 2 3");
  error = GetUserIndex(bus, 2, &userIndex);
  Check(error == 0 && userIndex == 3, "serial 2 has the user index given", "error %lu, index %lu",
        (unsigned long)error, (unsigned long)userIndex);
}

static void NotificationChecks(HANDLE bus)
{
  Notification notification;
  if (!StartNotification(&notification, bus, 1)) {
    Check(FALSE, "notification request starts", "Windows error %lu", (unsigned long)GetLastError());
    return;
  }
  if (CheckPending(&notification, bus, "notification stays pending until the game sets the pad")) {
    Tool("rumble 1 200 100 2");
    CheckFeedback(&notification, bus, 1, 200, 100, 2, "rumble completes the notification with motors and LED");
  } else {
    SimBusFinish(&notification.request);
  }

  Tool("rumble 1 10 20 3");
  if (StartNotification(&notification, bus, 1)) {
    CheckFeedback(&notification, bus, 1, 10, 20, 3, "rumble set while no request waited is delivered next");
  }

  if (StartNotification(&notification, bus, 1) && CheckPending(&notification, bus, "a new notification waits")) {
    CancelIoEx(bus, &notification.request.overlapped);
    CheckEnded(&notification, bus, ERROR_OPERATION_ABORTED, "a cancelled notification ends with 995");
  }

  CheckError(SerialRequest(bus, SIMBUS_IOCTL_UNPLUG, 9), NOT_PLUGGED, "unplug unknown serial 9");
  if (StartNotification(&notification, bus, 1) && CheckPending(&notification, bus, "notification waits before unplug")) {
    CheckError(SerialRequest(bus, SIMBUS_IOCTL_UNPLUG, 1), 0, "unplug serial 1");
    CheckEnded(&notification, bus, ERROR_OPERATION_ABORTED, "unplug ends the pending notification with 995");
  }
  CheckError(SerialRequest(bus, SIMBUS_IOCTL_UNPLUG, 1), NOT_PLUGGED, "unplug serial 1 again");
  if (StartNotification(&notification, bus, 1)) {
    CheckEnded(&notification, bus, NOT_PLUGGED, "notification for an unplugged pad fails at once");
  }
  unsigned char record[SIMBUS_PAD_RECORD_SIZE];
  Check(ReadPad(1, record) && !(SimBusGetU32(record, SIMBUS_PAD_FLAGS) & SIMBUS_PAD_PLUGGED) &&
            SimBusGetU64(record, SIMBUS_PAD_REPORT_COUNT) == 2,
        "an unplugged pad keeps its reports for the game side", "record missing or wrong");
}

static void SecondHandleChecks(const WCHAR* path, HANDLE bus)
{
  HANDLE other = OpenBus(path);
  if (other == INVALID_HANDLE_VALUE) {
    Check(FALSE, "open the bus a second time", "Windows error %lu", (unsigned long)GetLastError());
    return;
  }
  CheckError(PlugIn(other, 3), 0, "plug serial 3 on a second handle");
  unsigned char report[SIMBUS_REPORT_SIZE] = {0};
  CheckError(SubmitReport(other, 2, report), ERROR_ACCESS_DENIED, "a handle cannot use another handle's pad");
  CheckError(SubmitReport(bus, 3, report), ERROR_ACCESS_DENIED, "nor the first handle the second one's");

  Notification notification;
  BOOL pending = StartNotification(&notification, other, 3) &&
                 CheckPending(&notification, other, "notification waits on the second handle");
  CloseHandle(other);
  if (pending) {
    /* The handle is gone, so the result is read from the OVERLAPPED record itself. */
    BOOL ended = WaitForSingleObject(notification.request.event, COMPLETION_LIMIT_MS) == WAIT_OBJECT_0;
    Check(ended && notification.request.overlapped.Internal == (ULONG_PTR)0xC0000120L,
          "closing the handle ends its notification as cancelled", "ended %d, status 0x%08lX", ended,
          (unsigned long)notification.request.overlapped.Internal);
    SimBusFinish(&notification.request);
  }
  unsigned char record[SIMBUS_PAD_RECORD_SIZE];
  BOOL known = ReadPad(3, record);
  Check(known && !(SimBusGetU32(record, SIMBUS_PAD_FLAGS) & SIMBUS_PAD_PLUGGED),
        "closing the handle unplugs its pads", "known %d, flags %lu", known,
        known ? (unsigned long)SimBusGetU32(record, SIMBUS_PAD_FLAGS) : 0ul);
}

/* The child half of ExitChecks: plugs `serial`, leaves a notification waiting and exits without
 * closing anything, as a program that crashes does. */
static int PlugAndExit(const char* serialText)
{
  WCHAR path[512];
  int count = 0;
  if (!FindBusPath(path, sizeof(path) / sizeof(path[0]), &count)) {
    return 2;
  }
  HANDLE bus = OpenBus(path);
  uint32_t serial = (uint32_t)atoi(serialText);
  Notification notification;
  if (bus == INVALID_HANDLE_VALUE || PlugIn(bus, serial) != 0 || !StartNotification(&notification, bus, serial) ||
      SimBusWait(&notification.request, bus, PENDING_PROBE_MS, NULL) != SIMBUS_TIMED_OUT) {
    return 3;
  }
  ExitProcess(0);
}

static void ExitChecks(void)
{
  int exitCode = RunBeside(L"simbus-selftest.exe", "--plug-and-exit 5");
  Check(exitCode == 0, "another process plugs serial 5 and exits", "exit code %d", exitCode);
  if (exitCode != 0) {
    return;
  }
  unsigned char record[SIMBUS_PAD_RECORD_SIZE];
  BOOL known = FALSE;
  BOOL unplugged = FALSE;
  for (int tries = 0; tries < 100 && !unplugged; ++tries) {
    known = ReadPad(5, record);
    unplugged = known && !(SimBusGetU32(record, SIMBUS_PAD_FLAGS) & SIMBUS_PAD_PLUGGED);
    if (!unplugged) {
      Sleep(50);
    }
  }
  Check(unplugged, "the exited process's pad is unplugged", "known %d", known);
}

static void SerialTakenChecks(HANDLE bus)
{
  unsigned char report[SIMBUS_REPORT_SIZE] = {0};
  Tool("fault serial-taken on");
  CheckError(PlugIn(bus, 1), ERROR_ALREADY_EXISTS, "serial 1 is refused while another program holds it");
  CheckError(SubmitReport(bus, 1, report), ERROR_ACCESS_DENIED, "another program's serial is access denied");
  CheckError(PlugIn(bus, 4), 0, "serial 4 is still accepted");
  Tool("fault serial-taken off");
  CheckError(PlugIn(bus, 1), 0, "serial 1 is accepted once it is free");
  CheckError(SerialRequest(bus, SIMBUS_IOCTL_UNPLUG, 1), 0, "unplug serial 1");
  CheckError(SerialRequest(bus, SIMBUS_IOCTL_UNPLUG, 4), 0, "unplug serial 4");
  CheckError(SerialRequest(bus, SIMBUS_IOCTL_UNPLUG, 2), 0, "unplug serial 2");
}

int main(int argc, char** argv)
{
  if (argc == 3 && strcmp(argv[1], "--plug-and-exit") == 0) {
    return PlugAndExit(argv[2]);
  }
  WCHAR path[512];
  int count = 0;
  BOOL found = FindBusPath(path, sizeof(path) / sizeof(path[0]), &count);
  Check(found, "SetupAPI lists the bus interface", "%d interfaces, no readable path", count);
  if (!found) {
    return 1;
  }
  printf("     path %ls\n", path);
  HANDLE bus = OpenBus(path);
  Check(bus != INVALID_HANDLE_VALUE, "CreateFileW opens the listed path", "Windows error %lu",
        (unsigned long)GetLastError());
  if (bus == INVALID_HANDLE_VALUE) {
    return 1;
  }
  Tool("reset");
  AnswerChecks(bus);
  VersionChecks(bus);
  PlugChecks(bus);
  ReportChecks(bus);
  UserIndexChecks(bus);
  NotificationChecks(bus);
  SecondHandleChecks(path, bus);
  ExitChecks();
  SerialTakenChecks(bus);
  CloseHandle(bus);
  printf("%d checks, %d failed\n", checks, failures);
  return failures == 0 ? 0 : 1;
}
