/* A simulated virtual game-pad bus, loaded by Wine as a kernel service. The unchanged program finds
 * its bus device through SetupAPI and drives it with the same device I/O control requests it sends
 * the real bus driver on Windows; a second, control device lets tests play the game's part (rumble,
 * LED, user indices) and switch the bus's failures on and off.
 *
 * Like real bus drivers, it answers every request on the spot (success, or a refusal with its error)
 * and marks only the notification requests that wait for the game pending. A request refused on the
 * spot never signals the caller's OVERLAPPED event, so the caller must take the refusal from
 * DeviceIoControl itself; the fault SIMBUS_FAULT_ALL_PENDING pends every bus request instead.
 *
 * The control device can also take the bus device away and bring it back, as Windows removes a device
 * that is disabled, updated or lost across sleep: see SetPresence. */
#include <ntddk.h>

#include "SimBusProtocol.h"

#define USER_INDEX_COUNT 4

typedef struct Pad {
  BOOLEAN known; /* the record holds a pad, plugged or unplugged but remembered */
  BOOLEAN plugged;
  BOOLEAN userIndexWithheld;
  BOOLEAN feedbackUnsent;
  ULONG serial;
  ULONG targetType;
  USHORT vendorId;
  USHORT productId;
  ULONG userIndex;
  PFILE_OBJECT owner; /* the handle that plugged the pad; only it may use or unplug the pad */
  ULONG64 reportCount;
  UCHAR report[BUS_REPORT_SIZE];
  UCHAR largeMotor;
  UCHAR smallMotor;
  UCHAR led;
  ULONG64 unpluggedAt; /* the oldest unplugged record is the first to be reused */
  LIST_ENTRY waiting;  /* notification requests, linked through Tail.Overlay.ListEntry */
} Pad;

typedef struct Bus {
  KSPIN_LOCK lock; /* guards everything below; never held while a request is completed */
  Pad pads[SIMBUS_PAD_SLOTS];
  ULONG faults;
  ULONG cleanups;
  ULONG closes;
  ULONG cancels;
  ULONG aborted;
  ULONG answeredAtOnce;
  ULONG refusedAtOnce;
  ULONG pended;
  ULONG64 unplugSequence;
  /* While removed, the bus device has no symbolic link and its interface is not listed. Every file
   * object opened on it carries the generation it was opened in (FsContext); a removal starts a new
   * one, so the handles of the device that went stay refused after it comes back. */
  BOOLEAN removed;
  ULONG_PTR generation;
  PDEVICE_OBJECT busDevice;
  PDEVICE_OBJECT controlDevice;
} Bus;

static Bus bus;

static void Finish(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

static void FinishAll(LIST_ENTRY* irps, NTSTATUS status)
{
  while (!IsListEmpty(irps)) {
    LIST_ENTRY* entry = RemoveHeadList(irps);
    Finish(CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry), status, 0);
  }
}

static void FillNotification(const Pad* pad, unsigned char* buffer)
{
  SimBusPutU32(buffer, 0, BUS_NOTIFICATION_SIZE);
  SimBusPutU32(buffer, 4, pad->serial);
  buffer[8] = pad->largeMotor;
  buffer[9] = pad->smallMotor;
  buffer[10] = pad->led;
  buffer[11] = 0;
}

/* Finished requests leave the pad's list for `out`, to be completed once the lock is released. One
 * whose cancel routine is already running is left to that routine; its entry is made self-linked so
 * the routine's RemoveEntryList is harmless. */
static void TakeWaiting(Pad* pad, PFILE_OBJECT onlyFile, LIST_ENTRY* out)
{
  LIST_ENTRY* entry = pad->waiting.Flink;
  while (entry != &pad->waiting) {
    LIST_ENTRY* next = entry->Flink;
    PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    if (onlyFile == NULL || IoGetCurrentIrpStackLocation(irp)->FileObject == onlyFile) {
      RemoveEntryList(entry);
      if (IoSetCancelRoutine(irp, NULL) == NULL) {
        InitializeListHead(entry);
      } else {
        InsertTailList(out, entry);
      }
    }
    entry = next;
  }
}

/* Moves the oldest waiting request whose cancel routine is not running to `out`; FALSE for none. */
static BOOLEAN TakeOldestWaiting(Pad* pad, LIST_ENTRY* out)
{
  while (!IsListEmpty(&pad->waiting)) {
    LIST_ENTRY* entry = RemoveHeadList(&pad->waiting);
    PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
    if (IoSetCancelRoutine(irp, NULL) == NULL) {
      InitializeListHead(entry);
      continue;
    }
    InsertTailList(out, entry);
    return TRUE;
  }
  return FALSE;
}

static ULONG CountList(const LIST_ENTRY* head)
{
  ULONG count = 0;
  for (const LIST_ENTRY* entry = head->Flink; entry != head; entry = entry->Flink) {
    ++count;
  }
  return count;
}

static BOOLEAN SerialTaken(ULONG serial)
{
  return serial == 1 && (bus.faults & SIMBUS_FAULT_SERIAL_TAKEN) != 0;
}

static Pad* FindPlugged(ULONG serial)
{
  for (int i = 0; i < SIMBUS_PAD_SLOTS; ++i) {
    if (bus.pads[i].known && bus.pads[i].plugged && bus.pads[i].serial == serial) {
      return &bus.pads[i];
    }
  }
  return NULL;
}

/* The pad a request names when the caller's handle plugged it. Otherwise the status it is answered
 * with: access denied for a pad of another handle or another program, not connected for none. */
static NTSTATUS FindOwned(ULONG serial, PFILE_OBJECT file, Pad** pad)
{
  *pad = FindPlugged(serial);
  if (*pad != NULL) {
    return (*pad)->owner == file ? STATUS_SUCCESS : STATUS_ACCESS_DENIED;
  }
  return SerialTaken(serial) ? STATUS_ACCESS_DENIED : STATUS_DEVICE_NOT_CONNECTED;
}

static Pad* SlotForPlug(ULONG serial)
{
  Pad* oldest = NULL;
  for (int i = 0; i < SIMBUS_PAD_SLOTS; ++i) {
    Pad* pad = &bus.pads[i];
    if (pad->known && !pad->plugged && pad->serial == serial) {
      return pad;
    }
  }
  for (int i = 0; i < SIMBUS_PAD_SLOTS; ++i) {
    Pad* pad = &bus.pads[i];
    if (!pad->known) {
      return pad;
    }
    if (!pad->plugged && (oldest == NULL || pad->unpluggedAt < oldest->unpluggedAt)) {
      oldest = pad;
    }
  }
  return oldest;
}

static ULONG LowestFreeUserIndex(void)
{
  for (ULONG index = 0; index < USER_INDEX_COUNT; ++index) {
    BOOLEAN used = FALSE;
    for (int i = 0; i < SIMBUS_PAD_SLOTS; ++i) {
      const Pad* pad = &bus.pads[i];
      if (pad->known && pad->plugged && pad->userIndex == index) {
        used = TRUE;
      }
    }
    if (!used) {
      return index;
    }
  }
  return SIMBUS_NO_USER_INDEX;
}

static void Unplug(Pad* pad, LIST_ENTRY* aborted)
{
  TakeWaiting(pad, NULL, aborted);
  pad->plugged = FALSE;
  pad->owner = NULL;
  pad->unpluggedAt = ++bus.unplugSequence;
}

static BOOLEAN SizedRequest(const unsigned char* buffer, ULONG inputLength, ULONG size)
{
  return buffer != NULL && inputLength == size && SimBusGetU32(buffer, 0) == size;
}

static VOID NTAPI CancelNotification(PDEVICE_OBJECT device, PIRP irp)
{
  UNREFERENCED_PARAMETER(device);
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KIRQL irql;
  KeAcquireSpinLock(&bus.lock, &irql);
  RemoveEntryList(&irp->Tail.Overlay.ListEntry);
  ++bus.cancels;
  KeReleaseSpinLock(&bus.lock, irql);
  Finish(irp, STATUS_CANCELLED, 0);
}

static NTSTATUS PlugIn(const unsigned char* buffer, ULONG inputLength, PFILE_OBJECT file)
{
  if (!SizedRequest(buffer, inputLength, BUS_PLUG_IN_SIZE)) {
    return STATUS_INVALID_PARAMETER;
  }
  ULONG serial = SimBusGetU32(buffer, 4);
  ULONG targetType = SimBusGetU32(buffer, 8);
  if (serial == 0 || serial > BUS_HIGHEST_SERIAL || targetType != BUS_TARGET_XBOX360_WIRED) {
    return STATUS_INVALID_PARAMETER;
  }
  if (bus.faults & SIMBUS_FAULT_PLUG_REFUSED) {
    return STATUS_UNSUCCESSFUL;
  }
  if (FindPlugged(serial) != NULL || SerialTaken(serial)) {
    return STATUS_OBJECT_NAME_COLLISION;
  }
  Pad* pad = SlotForPlug(serial);
  if (pad == NULL) {
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  ULONG userIndex = LowestFreeUserIndex();
  RtlZeroMemory(pad, sizeof(*pad));
  InitializeListHead(&pad->waiting);
  pad->known = TRUE;
  pad->plugged = TRUE;
  pad->serial = serial;
  pad->targetType = targetType;
  pad->vendorId = SimBusGetU16(buffer, 12);
  pad->productId = SimBusGetU16(buffer, 14);
  pad->userIndex = userIndex;
  pad->owner = file;
  return STATUS_SUCCESS;
}

/* Answers one bus request. Returns FALSE when the request was queued and must not be completed. */
static BOOLEAN BusRequest(PIRP irp, NTSTATUS* status, ULONG_PTR* information, LIST_ENTRY* aborted)
{
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  unsigned char* buffer = irp->AssociatedIrp.SystemBuffer;
  PFILE_OBJECT file = stack->FileObject;
  Pad* pad;
  *information = 0;
  *status = STATUS_SUCCESS;

  /* What the driver framework answers once it purged a removed device's queues (error 22 for the
   * caller). */
  if ((ULONG_PTR)file->FsContext != bus.generation) {
    *status = STATUS_INVALID_DEVICE_STATE;
    return TRUE;
  }

  switch (code) {
  case BUS_REQUEST_CHECK_VERSION:
    if (!SizedRequest(buffer, inputLength, BUS_CHECK_VERSION_SIZE)) {
      *status = STATUS_INVALID_PARAMETER;
    } else if (SimBusGetU32(buffer, 4) != BUS_INTERFACE_VERSION || (bus.faults & SIMBUS_FAULT_VERSION_REFUSED)) {
      *status = STATUS_NOT_SUPPORTED;
    }
    return TRUE;

  case BUS_REQUEST_PLUG_IN:
    *status = PlugIn(buffer, inputLength, file);
    return TRUE;

  case BUS_REQUEST_UNPLUG:
    if (!SizedRequest(buffer, inputLength, BUS_SERIAL_REQUEST_SIZE)) {
      *status = STATUS_INVALID_PARAMETER;
    } else if (NT_SUCCESS(*status = FindOwned(SimBusGetU32(buffer, 4), file, &pad))) {
      Unplug(pad, aborted);
    }
    return TRUE;

  case BUS_REQUEST_WAIT_READY:
    /* This fault stands for a bus that does not know the request at all, whatever its input. */
    if ((bus.faults & SIMBUS_FAULT_READY_INVALID) || !SizedRequest(buffer, inputLength, BUS_SERIAL_REQUEST_SIZE)) {
      *status = STATUS_INVALID_PARAMETER;
    } else if (NT_SUCCESS(*status = FindOwned(SimBusGetU32(buffer, 4), file, &pad)) &&
               (bus.faults & SIMBUS_FAULT_READY_FAILS)) {
      *status = STATUS_UNSUCCESSFUL;
    }
    return TRUE;

  case BUS_REQUEST_SUBMIT_REPORT:
    if (!SizedRequest(buffer, inputLength, BUS_SUBMIT_REPORT_SIZE)) {
      *status = STATUS_INVALID_PARAMETER;
    } else if (NT_SUCCESS(*status = FindOwned(SimBusGetU32(buffer, 4), file, &pad))) {
      RtlCopyMemory(pad->report, buffer + 8, BUS_REPORT_SIZE);
      ++pad->reportCount;
    }
    return TRUE;

  case BUS_REQUEST_USER_INDEX:
    if (!SizedRequest(buffer, inputLength, BUS_USER_INDEX_SIZE) || outputLength < BUS_USER_INDEX_SIZE) {
      *status = STATUS_INVALID_PARAMETER;
      return TRUE;
    }
    if (!NT_SUCCESS(*status = FindOwned(SimBusGetU32(buffer, 4), file, &pad))) {
      return TRUE;
    }
    if ((bus.faults & SIMBUS_FAULT_USER_INDEX_LATE) || pad->userIndexWithheld ||
        pad->userIndex == SIMBUS_NO_USER_INDEX) {
      *status = STATUS_INVALID_DEVICE_OBJECT_PARAMETER;
      return TRUE;
    }
    SimBusPutU32(buffer, 8, pad->userIndex);
    *information = BUS_USER_INDEX_SIZE;
    return TRUE;

  case BUS_REQUEST_NOTIFICATION:
    if (!SizedRequest(buffer, inputLength, BUS_NOTIFICATION_SIZE) || outputLength < BUS_NOTIFICATION_SIZE) {
      *status = STATUS_INVALID_PARAMETER;
      return TRUE;
    }
    if (!NT_SUCCESS(*status = FindOwned(SimBusGetU32(buffer, 4), file, &pad))) {
      return TRUE;
    }
    /* A game that set the pad while no request waited must not be lost between two requests. */
    if (pad->feedbackUnsent) {
      pad->feedbackUnsent = FALSE;
      FillNotification(pad, buffer);
      *information = BUS_NOTIFICATION_SIZE;
      return TRUE;
    }
    IoSetCancelRoutine(irp, CancelNotification);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
      *status = STATUS_CANCELLED;
      return TRUE;
    }
    /* Queued also when cancelling has begun: the running cancel routine then finds it in the list.
     * Marked pending before the lock goes: from then on another request may complete it. */
    IoMarkIrpPending(irp);
    InsertTailList(&pad->waiting, &irp->Tail.Overlay.ListEntry);
    return FALSE;

  default:
    *status = STATUS_INVALID_DEVICE_REQUEST;
    return TRUE;
  }
}

static ULONG_PTR ListPads(unsigned char* buffer, ULONG outputLength)
{
  ULONG total = 0;
  ULONG count = 0;
  for (int i = 0; i < SIMBUS_PAD_SLOTS; ++i) {
    const Pad* pad = &bus.pads[i];
    if (!pad->known) {
      continue;
    }
    ++total;
    ULONG offset = SIMBUS_LIST_HEADER_SIZE + count * SIMBUS_PAD_RECORD_SIZE;
    if (offset + SIMBUS_PAD_RECORD_SIZE > outputLength) {
      continue;
    }
    unsigned char* record = buffer + offset;
    RtlZeroMemory(record, SIMBUS_PAD_RECORD_SIZE);
    ULONG flags = (pad->plugged ? SIMBUS_PAD_PLUGGED : 0) |
                  (pad->userIndexWithheld ? SIMBUS_PAD_USER_INDEX_WITHHELD : 0) |
                  (pad->feedbackUnsent ? SIMBUS_PAD_FEEDBACK_UNSENT : 0);
    SimBusPutU32(record, SIMBUS_PAD_SERIAL, pad->serial);
    SimBusPutU32(record, SIMBUS_PAD_FLAGS, flags);
    SimBusPutU32(record, SIMBUS_PAD_USER_INDEX, pad->userIndex);
    SimBusPutU32(record, SIMBUS_PAD_WAITING, CountList(&pad->waiting));
    SimBusPutU64(record, SIMBUS_PAD_REPORT_COUNT, pad->reportCount);
    RtlCopyMemory(record + SIMBUS_PAD_REPORT, pad->report, BUS_REPORT_SIZE);
    record[SIMBUS_PAD_LARGE_MOTOR] = pad->largeMotor;
    record[SIMBUS_PAD_SMALL_MOTOR] = pad->smallMotor;
    record[SIMBUS_PAD_LED] = pad->led;
    SimBusPutU32(record, SIMBUS_PAD_TARGET_TYPE, pad->targetType);
    SimBusPutU16(record, SIMBUS_PAD_VENDOR_ID, pad->vendorId);
    SimBusPutU16(record, SIMBUS_PAD_PRODUCT_ID, pad->productId);
    ++count;
  }
  SimBusPutU32(buffer, SIMBUS_LIST_HEADER_FAULTS, bus.faults);
  SimBusPutU32(buffer, SIMBUS_LIST_HEADER_COUNT, count);
  SimBusPutU32(buffer, SIMBUS_LIST_HEADER_TOTAL, total);
  SimBusPutU32(buffer, SIMBUS_LIST_HEADER_CLEANUPS, bus.cleanups);
  SimBusPutU32(buffer, SIMBUS_LIST_HEADER_CLOSES, bus.closes);
  SimBusPutU32(buffer, SIMBUS_LIST_HEADER_CANCELS, bus.cancels);
  SimBusPutU32(buffer, SIMBUS_LIST_HEADER_ABORTED, bus.aborted);
  SimBusPutU32(buffer, SIMBUS_LIST_HEADER_AT_ONCE, bus.answeredAtOnce);
  SimBusPutU32(buffer, SIMBUS_LIST_HEADER_REFUSED, bus.refusedAtOnce);
  SimBusPutU32(buffer, SIMBUS_LIST_HEADER_PENDED, bus.pended);
  SimBusPutU32(buffer, SIMBUS_LIST_HEADER_PRESENT, bus.removed ? 0 : 1);
  return SIMBUS_LIST_HEADER_SIZE + (ULONG_PTR)count * SIMBUS_PAD_RECORD_SIZE;
}

/* The bus device goes (present FALSE) or a fresh one comes (TRUE), under the lock: its pads are
 * forgotten and their waiting requests cancelled. Answers whether anything changed; the link and the
 * registry follow outside the lock (ShowBusDevice). */
static BOOLEAN SetPresence(BOOLEAN present, LIST_ENTRY* aborted)
{
  if (bus.removed == !present) {
    return FALSE;
  }
  bus.removed = !present;
  if (!present) {
    ++bus.generation;
    for (int i = 0; i < SIMBUS_PAD_SLOTS; ++i) {
      Pad* pad = &bus.pads[i];
      if (pad->known) {
        TakeWaiting(pad, NULL, aborted);
      }
      RtlZeroMemory(pad, sizeof(*pad));
      InitializeListHead(&pad->waiting);
    }
  }
  return TRUE;
}

/* What SetupAPI and CreateFileW see of the bus device: its interface's "Linked" value (Wine's SetupAPI
 * lists an interface as present only while it is 1) and the symbolic link its path opens. */
static void ShowBusDevice(BOOLEAN present)
{
  UNICODE_STRING name;
  UNICODE_STRING link;
  RtlInitUnicodeString(&name, SIMBUS_DEVICE_NAME);
  RtlInitUnicodeString(&link, SIMBUS_LINK_NAME);
  if (present) {
    IoCreateSymbolicLink(&link, &name);
  } else {
    IoDeleteSymbolicLink(&link);
  }
  UNICODE_STRING keyName;
  RtlInitUnicodeString(&keyName, SIMBUS_INTERFACE_CONTROL_KEY);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &keyName, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  HANDLE key;
  if (NT_SUCCESS(ZwOpenKey(&key, KEY_SET_VALUE, &attributes))) {
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, L"Linked");
    ULONG linked = present ? 1 : 0;
    ZwSetValueKey(key, &valueName, 0, REG_DWORD, &linked, sizeof(linked));
    ZwClose(key);
  }
}

/* Answers one control request. Requests it takes off a pad go to `answered` (to be completed with
 * success and the pad's feedback already in their buffers); `presence` is set to 1 or 2 when the bus
 * device came or went and ShowBusDevice must follow. */
static NTSTATUS ControlRequest(PIRP irp, ULONG_PTR* information, LIST_ENTRY* answered, LIST_ENTRY* aborted,
                               int* presence)
{
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  unsigned char* buffer = irp->AssociatedIrp.SystemBuffer;
  Pad* pad;
  *information = 0;

  switch (code) {
  case SIMBUS_CONTROL_LIST:
    if (buffer == NULL || outputLength < SIMBUS_LIST_HEADER_SIZE) {
      return STATUS_BUFFER_TOO_SMALL;
    }
    *information = ListPads(buffer, outputLength);
    return STATUS_SUCCESS;

  case SIMBUS_CONTROL_FEEDBACK:
    if (buffer == NULL || inputLength < SIMBUS_FEEDBACK_SIZE) {
      return STATUS_INVALID_PARAMETER;
    }
    if ((pad = FindPlugged(SimBusGetU32(buffer, 0))) == NULL) {
      return STATUS_NOT_FOUND;
    }
    pad->largeMotor = buffer[4];
    pad->smallMotor = buffer[5];
    pad->led = buffer[6];
    /* One change is delivered once, to the oldest waiting request; with none waiting it is kept for
     * the next request, and a later change replaces it. */
    pad->feedbackUnsent = !TakeOldestWaiting(pad, answered);
    if (!pad->feedbackUnsent) {
      PIRP waiting = CONTAINING_RECORD(answered->Flink, IRP, Tail.Overlay.ListEntry);
      FillNotification(pad, waiting->AssociatedIrp.SystemBuffer);
    }
    return STATUS_SUCCESS;

  case SIMBUS_CONTROL_USER_INDEX: {
    if (buffer == NULL || inputLength < SIMBUS_SET_USER_INDEX_SIZE) {
      return STATUS_INVALID_PARAMETER;
    }
    ULONG userIndex = SimBusGetU32(buffer, 4);
    if (userIndex != SIMBUS_NO_USER_INDEX && userIndex >= USER_INDEX_COUNT) {
      return STATUS_INVALID_PARAMETER;
    }
    if ((pad = FindPlugged(SimBusGetU32(buffer, 0))) == NULL) {
      return STATUS_NOT_FOUND;
    }
    pad->userIndexWithheld = userIndex == SIMBUS_NO_USER_INDEX;
    if (!pad->userIndexWithheld) {
      pad->userIndex = userIndex;
    }
    return STATUS_SUCCESS;
  }

  case SIMBUS_CONTROL_FAULT: {
    if (buffer == NULL || inputLength < SIMBUS_SET_FAULT_SIZE) {
      return STATUS_INVALID_PARAMETER;
    }
    ULONG fault = SimBusGetU32(buffer, 0);
    if (fault == 0 || (fault & ~SIMBUS_FAULT_ALL) != 0) {
      return STATUS_INVALID_PARAMETER;
    }
    if (SimBusGetU32(buffer, 4) != 0) {
      bus.faults |= fault;
    } else {
      bus.faults &= ~fault;
    }
    return STATUS_SUCCESS;
  }

  case SIMBUS_CONTROL_PRESENCE: {
    if (buffer == NULL || inputLength < SIMBUS_SET_PRESENCE_SIZE) {
      return STATUS_INVALID_PARAMETER;
    }
    BOOLEAN present = SimBusGetU32(buffer, 0) != 0;
    if (SetPresence(present, aborted)) {
      *presence = present ? 1 : 2;
    }
    return STATUS_SUCCESS;
  }

  case SIMBUS_CONTROL_RESET:
    bus.faults = 0;
    bus.cleanups = bus.closes = bus.cancels = bus.aborted = 0;
    bus.answeredAtOnce = bus.refusedAtOnce = bus.pended = 0;
    for (int i = 0; i < SIMBUS_PAD_SLOTS; ++i) {
      if (bus.pads[i].known && !bus.pads[i].plugged) {
        bus.pads[i].known = FALSE;
      }
    }
    return STATUS_SUCCESS;

  default:
    return STATUS_INVALID_DEVICE_REQUEST;
  }
}

/* The last handle of a file object is gone: its pads are unplugged and every request it still has
 * waiting ends as cancelled, as the real bus does when its client exits. */
static void ReleaseFile(PFILE_OBJECT file, LIST_ENTRY* aborted)
{
  for (int i = 0; i < SIMBUS_PAD_SLOTS; ++i) {
    Pad* pad = &bus.pads[i];
    if (!pad->known) {
      continue;
    }
    TakeWaiting(pad, file, aborted);
    if (pad->plugged && pad->owner == file) {
      Unplug(pad, aborted);
    }
  }
}

static NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT device, PIRP irp)
{
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  BOOLEAN isBus = device == bus.busDevice;
  NTSTATUS status = STATUS_SUCCESS;
  ULONG_PTR information = 0;
  BOOLEAN complete = TRUE;
  BOOLEAN pending = FALSE;
  LIST_ENTRY aborted;
  LIST_ENTRY answered;
  InitializeListHead(&aborted);
  InitializeListHead(&answered);

  int presence = 0;
  KIRQL irql;
  KeAcquireSpinLock(&bus.lock, &irql);
  switch (stack->MajorFunction) {
  case IRP_MJ_CREATE:
    if (isBus) {
      /* A path opened in the moment before its link went is refused as a removed device refuses it. */
      if (bus.removed) {
        status = STATUS_NO_SUCH_DEVICE;
      } else {
        stack->FileObject->FsContext = (PVOID)bus.generation;
      }
    }
    break;
  case IRP_MJ_CLEANUP:
    if (isBus) {
      ++bus.cleanups;
      ReleaseFile(stack->FileObject, &aborted);
    }
    break;
  case IRP_MJ_CLOSE:
    if (isBus) {
      ++bus.closes;
      /* Should a close ever come without its cleanup, nothing of the handle may stay behind. */
      ReleaseFile(stack->FileObject, &aborted);
    }
    break;
  case IRP_MJ_DEVICE_CONTROL:
    if (isBus) {
      if (bus.faults & SIMBUS_FAULT_ALL_PENDING) {
        IoMarkIrpPending(irp);
        pending = TRUE;
      }
      complete = BusRequest(irp, &status, &information, &aborted);
      pending = pending || !complete;
      if (pending) {
        ++bus.pended;
      } else if (NT_SUCCESS(status)) {
        ++bus.answeredAtOnce;
      } else {
        ++bus.refusedAtOnce;
      }
    } else {
      status = ControlRequest(irp, &information, &answered, &aborted, &presence);
    }
    break;
  default:
    status = STATUS_INVALID_DEVICE_REQUEST;
    break;
  }
  bus.aborted += CountList(&aborted);
  KeReleaseSpinLock(&bus.lock, irql);
  if (presence != 0) {
    ShowBusDevice(presence == 1);
  }

  FinishAll(&aborted, STATUS_CANCELLED);
  while (!IsListEmpty(&answered)) {
    LIST_ENTRY* entry = RemoveHeadList(&answered);
    Finish(CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry), STATUS_SUCCESS, BUS_NOTIFICATION_SIZE);
  }
  if (complete) {
    Finish(irp, status, information);
  }
  /* A request answered on the spot returns its own status: that is what DeviceIoControl reports. */
  return pending ? STATUS_PENDING : status;
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver)
{
  UNREFERENCED_PARAMETER(driver);
  LIST_ENTRY aborted;
  InitializeListHead(&aborted);
  KIRQL irql;
  KeAcquireSpinLock(&bus.lock, &irql);
  for (int i = 0; i < SIMBUS_PAD_SLOTS; ++i) {
    if (bus.pads[i].known) {
      TakeWaiting(&bus.pads[i], NULL, &aborted);
    }
  }
  KeReleaseSpinLock(&bus.lock, irql);
  FinishAll(&aborted, STATUS_CANCELLED);

  UNICODE_STRING name;
  RtlInitUnicodeString(&name, SIMBUS_LINK_NAME);
  IoDeleteSymbolicLink(&name);
  RtlInitUnicodeString(&name, SIMBUS_CONTROL_LINK_NAME);
  IoDeleteSymbolicLink(&name);
  if (bus.busDevice != NULL) {
    IoDeleteDevice(bus.busDevice);
  }
  if (bus.controlDevice != NULL) {
    IoDeleteDevice(bus.controlDevice);
  }
}

static NTSTATUS CreateDeviceWithLink(PDRIVER_OBJECT driver, const WCHAR* deviceName, const WCHAR* linkName,
                                     ULONG deviceType, PDEVICE_OBJECT* device)
{
  UNICODE_STRING name;
  UNICODE_STRING link;
  RtlInitUnicodeString(&name, deviceName);
  RtlInitUnicodeString(&link, linkName);
  NTSTATUS status = IoCreateDevice(driver, 0, &name, deviceType, FILE_DEVICE_SECURE_OPEN, FALSE, device);
  if (!NT_SUCCESS(status)) {
    *device = NULL;
    return status;
  }
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(*device);
    *device = NULL;
    return status;
  }
  (*device)->Flags |= DO_BUFFERED_IO;
  (*device)->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
  UNREFERENCED_PARAMETER(registryPath);
  RtlZeroMemory(&bus, sizeof(bus));
  KeInitializeSpinLock(&bus.lock);
  bus.generation = 1;
  for (int i = 0; i < SIMBUS_PAD_SLOTS; ++i) {
    InitializeListHead(&bus.pads[i].waiting);
  }

  NTSTATUS status = CreateDeviceWithLink(driver, SIMBUS_DEVICE_NAME, SIMBUS_LINK_NAME, BUS_DEVICE_TYPE, &bus.busDevice);
  if (!NT_SUCCESS(status)) {
    return status;
  }
  /* A driver stopped while removed left its interface unlisted. */
  ShowBusDevice(TRUE);
  status = CreateDeviceWithLink(driver, SIMBUS_CONTROL_DEVICE_NAME, SIMBUS_CONTROL_LINK_NAME,
                                SIMBUS_CONTROL_DEVICE_TYPE, &bus.controlDevice);
  if (!NT_SUCCESS(status)) {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, SIMBUS_LINK_NAME);
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(bus.busDevice);
    bus.busDevice = NULL;
    return status;
  }

  driver->MajorFunction[IRP_MJ_CREATE] = Dispatch;
  driver->MajorFunction[IRP_MJ_CLEANUP] = Dispatch;
  driver->MajorFunction[IRP_MJ_CLOSE] = Dispatch;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = Dispatch;
  driver->DriverUnload = Unload;
  return STATUS_SUCCESS;
}
