/* velotrix-gamepad: plays the game's side of the simulated bus from the command line. It reads what
 * the pads received, sets their rumble and LED, gives or withholds their user indices and switches
 * the bus's failures. Every answer is one line of JSON on standard output. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "SimBusIo.h"

#define MAX_LIST_SIZE (SIMBUS_LIST_HEADER_SIZE + SIMBUS_PAD_SLOTS * SIMBUS_PAD_RECORD_SIZE)

typedef struct FaultName {
  const char* name;
  uint32_t bit;
} FaultName;

/* One fault a line. */
/* clang-format off */
static const FaultName faultNames[] = {
  {"version-refused", SIMBUS_FAULT_VERSION_REFUSED},
  {"serial-taken", SIMBUS_FAULT_SERIAL_TAKEN},
  {"ready-invalid", SIMBUS_FAULT_READY_INVALID},
  {"user-index-late", SIMBUS_FAULT_USER_INDEX_LATE},
  {"plug-refused", SIMBUS_FAULT_PLUG_REFUSED},
  {"ready-fails", SIMBUS_FAULT_READY_FAILS},
  {"all-pending", SIMBUS_FAULT_ALL_PENDING},
};
/* clang-format on */
#define FAULT_COUNT (sizeof(faultNames) / sizeof(faultNames[0]))

static int PrintError(const char* message, DWORD code)
{
  printf("{\"error\":\"%s\",\"code\":%lu}\n", message, (unsigned long)code);
  fflush(stdout);
  return 1;
}

static int Usage(void)
{
  fprintf(stderr, "usage: velotrix-gamepad COMMAND\n"
                  "  status                          faults, pad count and request counters\n"
                  "  pads                            the plugged pads\n"
                  "  reports                         last report and report count of every pad the bus knows\n"
                  "  rumble SERIAL LARGE SMALL LED   what a game sends to the pad (0-255 each)\n"
                  "  user-index SERIAL N|none        give the pad user index N (0-3), or withhold it\n"
                  "  user-index-late on|off          no pad has a user index while on\n"
                  "  fault NAME on|off               version-refused, serial-taken, ready-invalid, user-index-late,\n"
                  "                                  plug-refused, ready-fails, all-pending\n"
                  "  wait-pads N [MS]                wait until at least N pads are plugged (default 5000 ms)\n"
                  "  reset                           faults off, counters 0, unplugged pads forgotten\n"
                  "  remove                          the bus device goes away as a removed device does\n"
                  "  restore                         a fresh, empty bus device comes back\n");
  return 2;
}

static BOOL ParseNumber(const char* text, unsigned long max, unsigned long* value)
{
  char* end = NULL;
  errno = 0;
  unsigned long parsed = strtoul(text, &end, 10);
  if (text[0] == '\0' || text[0] == '-' || *end != '\0' || errno != 0 || parsed > max) {
    return FALSE;
  }
  *value = parsed;
  return TRUE;
}

static BOOL ParseSwitch(const char* text, uint32_t* on)
{
  if (strcmp(text, "on") == 0) {
    *on = 1;
    return TRUE;
  }
  if (strcmp(text, "off") == 0) {
    *on = 0;
    return TRUE;
  }
  return FALSE;
}

static DWORD ReadList(HANDLE control, unsigned char* list, DWORD* size)
{
  return SimBusCall(control, SIMBUS_CONTROL_LIST, NULL, 0, list, MAX_LIST_SIZE, size);
}

static int Status(HANDLE control)
{
  unsigned char list[MAX_LIST_SIZE];
  DWORD size = 0;
  DWORD error = ReadList(control, list, &size);
  if (error != 0 || size < SIMBUS_LIST_HEADER_SIZE) {
    return PrintError("the bus did not answer the list request", error);
  }
  uint32_t faults = SimBusGetU32(list, SIMBUS_LIST_HEADER_FAULTS);
  uint32_t count = SimBusGetU32(list, SIMBUS_LIST_HEADER_COUNT);
  uint32_t plugged = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned char* record = list + SIMBUS_LIST_HEADER_SIZE + i * SIMBUS_PAD_RECORD_SIZE;
    plugged += (SimBusGetU32(record, SIMBUS_PAD_FLAGS) & SIMBUS_PAD_PLUGGED) != 0;
  }
  printf("{\"faults\":[");
  const char* separator = "";
  for (size_t i = 0; i < FAULT_COUNT; ++i) {
    if (faults & faultNames[i].bit) {
      printf("%s\"%s\"", separator, faultNames[i].name);
      separator = ",";
    }
  }
  printf(
      "],\"present\":%s,\"plugged\":%lu,\"known\":%lu,\"cleanups\":%lu,\"closes\":%lu,\"cancels\":%lu,\"aborted\":%lu,"
      "\"atOnce\":%lu,\"refusedAtOnce\":%lu,\"pended\":%lu}\n",
      SimBusGetU32(list, SIMBUS_LIST_HEADER_PRESENT) ? "true" : "false", (unsigned long)plugged,
      (unsigned long)SimBusGetU32(list, SIMBUS_LIST_HEADER_TOTAL),
      (unsigned long)SimBusGetU32(list, SIMBUS_LIST_HEADER_CLEANUPS),
      (unsigned long)SimBusGetU32(list, SIMBUS_LIST_HEADER_CLOSES),
      (unsigned long)SimBusGetU32(list, SIMBUS_LIST_HEADER_CANCELS),
      (unsigned long)SimBusGetU32(list, SIMBUS_LIST_HEADER_ABORTED),
      (unsigned long)SimBusGetU32(list, SIMBUS_LIST_HEADER_AT_ONCE),
      (unsigned long)SimBusGetU32(list, SIMBUS_LIST_HEADER_REFUSED),
      (unsigned long)SimBusGetU32(list, SIMBUS_LIST_HEADER_PENDED));
  return 0;
}

static void PrintUserIndex(const unsigned char* record)
{
  uint32_t userIndex = SimBusGetU32(record, SIMBUS_PAD_USER_INDEX);
  if (userIndex == SIMBUS_NO_USER_INDEX) {
    printf("\"userIndex\":null");
  } else {
    printf("\"userIndex\":%lu", (unsigned long)userIndex);
  }
}

static int Pads(HANDLE control, BOOL reports)
{
  unsigned char list[MAX_LIST_SIZE];
  DWORD size = 0;
  DWORD error = ReadList(control, list, &size);
  if (error != 0 || size < SIMBUS_LIST_HEADER_SIZE) {
    return PrintError("the bus did not answer the list request", error);
  }
  uint32_t count = SimBusGetU32(list, SIMBUS_LIST_HEADER_COUNT);
  printf(reports ? "{\"reports\":[" : "{\"pads\":[");
  const char* separator = "";
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned char* record = list + SIMBUS_LIST_HEADER_SIZE + i * SIMBUS_PAD_RECORD_SIZE;
    uint32_t flags = SimBusGetU32(record, SIMBUS_PAD_FLAGS);
    BOOL plugged = (flags & SIMBUS_PAD_PLUGGED) != 0;
    if (!reports && !plugged) {
      continue;
    }
    printf("%s{\"serial\":%lu,", separator, (unsigned long)SimBusGetU32(record, SIMBUS_PAD_SERIAL));
    separator = ",";
    if (reports) {
      const unsigned char* report = record + SIMBUS_PAD_REPORT;
      printf(
          "\"plugged\":%s,\"count\":%llu,\"buttons\":%u,\"lt\":%u,\"rt\":%u,\"lx\":%d,\"ly\":%d,\"rx\":%d,\"ry\":%d}",
          plugged ? "true" : "false", (unsigned long long)SimBusGetU64(record, SIMBUS_PAD_REPORT_COUNT),
          SimBusGetU16(report, 0), report[2], report[3], (int16_t)SimBusGetU16(report, 4),
          (int16_t)SimBusGetU16(report, 6), (int16_t)SimBusGetU16(report, 8), (int16_t)SimBusGetU16(report, 10));
      continue;
    }
    PrintUserIndex(record);
    printf(",\"userIndexWithheld\":%s,\"waiting\":%lu,\"large\":%u,\"small\":%u,\"led\":%u,"
           "\"type\":%lu,\"vendor\":%u,\"product\":%u}",
           (flags & SIMBUS_PAD_USER_INDEX_WITHHELD) ? "true" : "false",
           (unsigned long)SimBusGetU32(record, SIMBUS_PAD_WAITING), record[SIMBUS_PAD_LARGE_MOTOR],
           record[SIMBUS_PAD_SMALL_MOTOR], record[SIMBUS_PAD_LED],
           (unsigned long)SimBusGetU32(record, SIMBUS_PAD_TARGET_TYPE), SimBusGetU16(record, SIMBUS_PAD_VENDOR_ID),
           SimBusGetU16(record, SIMBUS_PAD_PRODUCT_ID));
  }
  printf("]}\n");
  return 0;
}

static int Rumble(HANDLE control, char** args)
{
  unsigned long serial, large, small, led;
  if (!ParseNumber(args[0], 0xFFFFFFFFul, &serial) || !ParseNumber(args[1], 255, &large) ||
      !ParseNumber(args[2], 255, &small) || !ParseNumber(args[3], 255, &led)) {
    return Usage();
  }
  unsigned char input[SIMBUS_FEEDBACK_SIZE] = {0};
  SimBusPutU32(input, 0, (uint32_t)serial);
  input[4] = (unsigned char)large;
  input[5] = (unsigned char)small;
  input[6] = (unsigned char)led;
  DWORD error = SimBusCall(control, SIMBUS_CONTROL_FEEDBACK, input, sizeof(input), NULL, 0, NULL);
  if (error == ERROR_NOT_FOUND) {
    return PrintError("no plugged pad has this serial", error);
  }
  if (error != 0) {
    return PrintError("the bus refused the rumble", error);
  }
  printf("{\"ok\":true,\"serial\":%lu,\"large\":%lu,\"small\":%lu,\"led\":%lu}\n", serial, large, small, led);
  return 0;
}

static int UserIndex(HANDLE control, char** args)
{
  unsigned long serial, userIndex = SIMBUS_NO_USER_INDEX;
  if (!ParseNumber(args[0], 0xFFFFFFFFul, &serial) ||
      (strcmp(args[1], "none") != 0 && !ParseNumber(args[1], 3, &userIndex))) {
    return Usage();
  }
  unsigned char input[SIMBUS_SET_USER_INDEX_SIZE];
  SimBusPutU32(input, 0, (uint32_t)serial);
  SimBusPutU32(input, 4, (uint32_t)userIndex);
  DWORD error = SimBusCall(control, SIMBUS_CONTROL_USER_INDEX, input, sizeof(input), NULL, 0, NULL);
  if (error == ERROR_NOT_FOUND) {
    return PrintError("no plugged pad has this serial", error);
  }
  if (error != 0) {
    return PrintError("the bus refused the user index", error);
  }
  if (userIndex == SIMBUS_NO_USER_INDEX) {
    printf("{\"ok\":true,\"serial\":%lu,\"userIndex\":null}\n", serial);
  } else {
    printf("{\"ok\":true,\"serial\":%lu,\"userIndex\":%lu}\n", serial, userIndex);
  }
  return 0;
}

static int Fault(HANDLE control, const char* name, const char* state)
{
  uint32_t on = 0;
  const FaultName* fault = NULL;
  for (size_t i = 0; i < FAULT_COUNT; ++i) {
    if (strcmp(name, faultNames[i].name) == 0) {
      fault = &faultNames[i];
    }
  }
  if (fault == NULL || !ParseSwitch(state, &on)) {
    return Usage();
  }
  unsigned char input[SIMBUS_SET_FAULT_SIZE];
  SimBusPutU32(input, 0, fault->bit);
  SimBusPutU32(input, 4, on);
  DWORD error = SimBusCall(control, SIMBUS_CONTROL_FAULT, input, sizeof(input), NULL, 0, NULL);
  if (error != 0) {
    return PrintError("the bus refused the fault switch", error);
  }
  printf("{\"ok\":true,\"fault\":\"%s\",\"on\":%s}\n", fault->name, on ? "true" : "false");
  return 0;
}

static int WaitPads(HANDLE control, char** args, int count)
{
  unsigned long wanted, timeout = 5000;
  if (!ParseNumber(args[0], SIMBUS_PAD_SLOTS, &wanted) || (count > 1 && !ParseNumber(args[1], 600000, &timeout))) {
    return Usage();
  }
  ULONGLONG deadline = GetTickCount64() + timeout;
  for (;;) {
    unsigned char list[MAX_LIST_SIZE];
    DWORD size = 0;
    DWORD error = ReadList(control, list, &size);
    if (error != 0 || size < SIMBUS_LIST_HEADER_SIZE) {
      return PrintError("the bus did not answer the list request", error);
    }
    unsigned long plugged = 0;
    uint32_t records = SimBusGetU32(list, SIMBUS_LIST_HEADER_COUNT);
    for (uint32_t i = 0; i < records; ++i) {
      const unsigned char* record = list + SIMBUS_LIST_HEADER_SIZE + i * SIMBUS_PAD_RECORD_SIZE;
      plugged += (SimBusGetU32(record, SIMBUS_PAD_FLAGS) & SIMBUS_PAD_PLUGGED) != 0;
    }
    if (plugged >= wanted) {
      return Pads(control, FALSE);
    }
    if (GetTickCount64() >= deadline) {
      return PrintError("timed out waiting for pads", WAIT_TIMEOUT);
    }
    Sleep(20);
  }
}

static int Simple(HANDLE control, DWORD code, const char* what)
{
  DWORD error = SimBusCall(control, code, NULL, 0, NULL, 0, NULL);
  if (error != 0) {
    return PrintError("the bus refused the request", error);
  }
  printf("{\"ok\":true,\"done\":\"%s\"}\n", what);
  return 0;
}

static int Presence(HANDLE control, uint32_t present)
{
  unsigned char input[SIMBUS_SET_PRESENCE_SIZE];
  SimBusPutU32(input, 0, present);
  DWORD error = SimBusCall(control, SIMBUS_CONTROL_PRESENCE, input, sizeof(input), NULL, 0, NULL);
  if (error != 0) {
    return PrintError("the bus refused the request", error);
  }
  printf("{\"ok\":true,\"present\":%s}\n", present ? "true" : "false");
  return 0;
}

static int Run(HANDLE control, const char* command, char** args, int count)
{
  if (strcmp(command, "status") == 0 && count == 0) {
    return Status(control);
  }
  if (strcmp(command, "pads") == 0 && count == 0) {
    return Pads(control, FALSE);
  }
  if (strcmp(command, "reports") == 0 && count == 0) {
    return Pads(control, TRUE);
  }
  if (strcmp(command, "rumble") == 0 && count == 4) {
    return Rumble(control, args);
  }
  if (strcmp(command, "user-index") == 0 && count == 2) {
    return UserIndex(control, args);
  }
  if (strcmp(command, "user-index-late") == 0 && count == 1) {
    return Fault(control, "user-index-late", args[0]);
  }
  if (strcmp(command, "fault") == 0 && count == 2) {
    return Fault(control, args[0], args[1]);
  }
  if (strcmp(command, "wait-pads") == 0 && (count == 1 || count == 2)) {
    return WaitPads(control, args, count);
  }
  if (strcmp(command, "remove") == 0 && count == 0) {
    return Presence(control, 0);
  }
  if (strcmp(command, "restore") == 0 && count == 0) {
    return Presence(control, 1);
  }
  if (strcmp(command, "reset") == 0 && count == 0) {
    return Simple(control, SIMBUS_CONTROL_RESET, "reset");
  }
  return Usage();
}

int main(int argc, char** argv)
{
  if (argc < 2) {
    return Usage();
  }
  HANDLE control = SimBusOpenControl();
  if (control == INVALID_HANDLE_VALUE) {
    return PrintError("the simulated bus driver is not running", GetLastError());
  }
  int result = Run(control, argv[1], argv + 2, argc - 2);
  fflush(stdout);
  CloseHandle(control);
  return result;
}
