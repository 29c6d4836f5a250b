// The device ports (see device_port.h). Each port has, from its first
// ReadFileEx, a thread that runs the reads one after another, so that a read
// may stay pending while the program writes and samples DSR.
#include "platform/device_port.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/device_port_delivery.h"

namespace {

// Windows keeps the request's status in Internal while it is pending.
const ULONG_PTR STATUS_PENDING_VALUE = 0x103;
const DWORD PST_RS232_VALUE = 1;

// One ReadFileEx request, from the moment it is queued until its completion
// routine has been handed to the issuing thread.
struct ReadRequest {
  BYTE *buffer;
  DWORD length;
  DWORD interval_ms;
  LPOVERLAPPED overlapped;
  LPOVERLAPPED_COMPLETION_ROUTINE routine;
  std::shared_ptr<CompletionTarget> issuer;
};

struct DevicePort {
  SerialDevice *device = nullptr;  // owned
  std::mutex lock;                 // guards everything below but the atomic
  DCB dcb;
  COMMTIMEOUTS timeouts = {0, 0, 0, 0, 0};
  // The code of the read that found the device gone; from then on every read
  // is refused at once with it, so that a reader cannot spin on a dead port.
  std::atomic<DWORD> read_failure{ERROR_SUCCESS};
  std::condition_variable reads_changed;
  std::deque<ReadRequest> reads;
  std::thread reader;
  bool reading = false;  // the reader is inside device->read
  bool closing = false;
  ~DevicePort() { delete device; }
};

std::mutex table_lock;
// Never destroyed: a reader may still wait on a port while the process exits.
std::map<HANDLE, std::shared_ptr<DevicePort>> &table() {
  static auto *ports = new std::map<HANDLE, std::shared_ptr<DevicePort>>;
  return *ports;
}

std::shared_ptr<DevicePort> find_port(HANDLE handle) {
  std::lock_guard<std::mutex> hold(table_lock);
  auto found = table().find(handle);
  return found == table().end() ? nullptr : found->second;
}

// The port behind a handle; null with ERROR_INVALID_HANDLE for anything else.
std::shared_ptr<DevicePort> port_of(HANDLE handle) {
  std::shared_ptr<DevicePort> port = find_port(handle);
  if (port == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return port;
}

// The port behind a queued request; null (last error set) when the handle or
// the request is no good.
std::shared_ptr<DevicePort> port_of_request(HANDLE handle, const void *data, DWORD length,
                                            LPOVERLAPPED overlapped) {
  std::shared_ptr<DevicePort> port = port_of(handle);
  if (port == nullptr) return nullptr;
  if (overlapped == nullptr || (data == nullptr && length > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return port;
}

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL result(DWORD error) {
  return error == ERROR_SUCCESS ? TRUE : fail(error);
}

}  // namespace

// ---------------------------------------------------------------- reads

namespace {

// Runs one read; records a device that has gone so that later reads are refused.
void run_read(DevicePort &port, ReadRequest &request) {
  DWORD got = 0;
  DWORD error = port.device->read(request.buffer, request.length, request.interval_ms, &got);
  if (error != ERROR_SUCCESS && error != ERROR_OPERATION_ABORTED) {
    DWORD none = ERROR_SUCCESS;
    port.read_failure.compare_exchange_strong(none, error);
  }
  completion_deliver(request.issuer, request.routine, error, got, request.overlapped);
}

void reader_main(DevicePort *port) {
  std::unique_lock<std::mutex> hold(port->lock);
  for (;;) {
    port->reads_changed.wait(hold, [port] { return port->closing || !port->reads.empty(); });
    if (port->closing) break;
    ReadRequest request = port->reads.front();
    port->reads.pop_front();
    port->reading = true;
    hold.unlock();
    run_read(*port, request);
    hold.lock();
    port->reading = false;
    port->reads_changed.notify_all();
  }
  // Reads that never started end as Windows ends them on close.
  for (ReadRequest &request : port->reads) {
    completion_deliver(request.issuer, request.routine, ERROR_OPERATION_ABORTED, 0,
                       request.overlapped);
  }
  port->reads.clear();
}

// Starts the port's reader unless it runs. Expects port.lock held.
DWORD start_reader(DevicePort &port) {
  if (port.reader.joinable()) return ERROR_SUCCESS;
  try {
    port.reader = std::thread(reader_main, &port);
  } catch (const std::system_error &) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return ERROR_SUCCESS;
}

void stop_reader(DevicePort &port) {
  std::unique_lock<std::mutex> hold(port.lock);
  // Also when no reader runs: a read queued from another thread just now must
  // not start one on a closed port.
  port.closing = true;
  if (!port.reader.joinable()) return;
  port.reads_changed.notify_all();
  // A read may be just about to start when the cancel comes: cancel until the
  // thread is out of the device.
  while (port.reading) {
    port.device->cancel_reads();
    port.reads_changed.wait_for(hold, std::chrono::milliseconds(10));
  }
  hold.unlock();
  port.reader.join();
}

}  // namespace

BOOL device_port_read_ex(HANDLE handle, void *data, DWORD length, LPOVERLAPPED overlapped,
                         LPOVERLAPPED_COMPLETION_ROUTINE completed) {
  std::shared_ptr<DevicePort> port = port_of_request(handle, data, length, overlapped);
  if (port == nullptr) return FALSE;
  DWORD failure = port->read_failure.load();
  if (failure != ERROR_SUCCESS) return fail(failure);
  std::shared_ptr<CompletionTarget> issuer = completion_target_of_this_thread();
  if (issuer == nullptr) return fail(ERROR_NOT_ENOUGH_MEMORY);
  std::lock_guard<std::mutex> hold(port->lock);
  if (port->closing) return fail(ERROR_INVALID_HANDLE);
  DWORD error = start_reader(*port);
  if (error != ERROR_SUCCESS) return fail(error);
  overlapped->Internal = STATUS_PENDING_VALUE;
  port->reads.push_back(ReadRequest{static_cast<BYTE *>(data), length,
                                    port->timeouts.ReadIntervalTimeout, overlapped, completed,
                                    issuer});
  port->reads_changed.notify_all();
  return TRUE;
}

// ---------------------------------------------------------------- opening and closing

HANDLE device_port_open_registered(const char *name, bool *taken) {
  SerialDeviceOpener open = serial_device_opener(name);
  *taken = open != nullptr;
  if (open == nullptr) return INVALID_HANDLE_VALUE;
  DWORD error = ERROR_GEN_FAILURE;
  SerialDevice *device = open(name, &error);
  if (device == nullptr) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return device_port_open(device);
}

HANDLE device_port_open(SerialDevice *device) {
  HANDLE handle = device_port_new_handle();
  if (handle == INVALID_HANDLE_VALUE) {
    delete device;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  std::shared_ptr<DevicePort> port = std::make_shared<DevicePort>();
  port->device = device;
  port->dcb = serial_default_dcb();
  std::lock_guard<std::mutex> hold(table_lock);
  table()[handle] = port;
  SetLastError(ERROR_SUCCESS);
  return handle;
}

bool device_port_handle(HANDLE handle) {
  return find_port(handle) != nullptr;
}

SerialDevice *serial_device_of(HANDLE handle) {
  std::shared_ptr<DevicePort> port = find_port(handle);
  return port == nullptr ? nullptr : port->device;
}

BOOL device_port_close(HANDLE handle) {
  std::shared_ptr<DevicePort> port;
  {
    std::lock_guard<std::mutex> hold(table_lock);
    auto found = table().find(handle);
    if (found == table().end()) return fail(ERROR_INVALID_HANDLE);
    port = found->second;
    table().erase(found);
  }
  stop_reader(*port);
  device_port_free_handle(handle);
  return TRUE;
}

// ---------------------------------------------------------------- writes

BOOL device_port_write(HANDLE handle, const void *data, DWORD length, LPDWORD written,
                       LPOVERLAPPED overlapped) {
  std::shared_ptr<DevicePort> port = port_of(handle);
  if (port == nullptr) return FALSE;
  if (written != nullptr) *written = 0;
  if (data == nullptr && length > 0) return fail(ERROR_INVALID_PARAMETER);
  DWORD count = 0;
  DWORD error = port->device->write(static_cast<const BYTE *>(data), length, &count);
  if (written != nullptr) *written = count;
  if (overlapped != nullptr) {
    overlapped->Internal = error;
    overlapped->InternalHigh = count;
  }
  return result(error);
}

BOOL device_port_write_ex(HANDLE handle, const void *data, DWORD length, LPOVERLAPPED overlapped,
                          LPOVERLAPPED_COMPLETION_ROUTINE completed) {
  std::shared_ptr<DevicePort> port = port_of_request(handle, data, length, overlapped);
  if (port == nullptr) return FALSE;
  std::shared_ptr<CompletionTarget> issuer = completion_target_of_this_thread();
  if (issuer == nullptr) return fail(ERROR_NOT_ENOUGH_MEMORY);
  overlapped->Internal = STATUS_PENDING_VALUE;
  DWORD written = 0;
  DWORD error = port->device->write(static_cast<const BYTE *>(data), length, &written);
  // The request was taken; how it ended is the routine's to hear.
  completion_deliver(issuer, completed, error, written, overlapped);
  return TRUE;
}

// ---------------------------------------------------------------- settings and status

BOOL device_port_get_config(HANDLE handle, LPCOMMCONFIG config, LPDWORD size) {
  std::shared_ptr<DevicePort> port = port_of(handle);
  if (port == nullptr) return FALSE;
  if (size == nullptr) return fail(ERROR_INVALID_PARAMETER);
  if (config == nullptr || *size < sizeof(COMMCONFIG)) {
    *size = sizeof(COMMCONFIG);
    return fail(ERROR_INSUFFICIENT_BUFFER);
  }
  memset(config, 0, sizeof(COMMCONFIG));
  config->dwSize = sizeof(COMMCONFIG);
  config->wVersion = 1;
  config->dwProviderSubType = PST_RS232_VALUE;
  std::lock_guard<std::mutex> hold(port->lock);
  config->dcb = port->dcb;
  *size = sizeof(COMMCONFIG);
  return TRUE;
}

BOOL device_port_set_config(HANDLE handle, LPCOMMCONFIG config, DWORD size) {
  std::shared_ptr<DevicePort> port = port_of(handle);
  if (port == nullptr) return FALSE;
  if (config == nullptr || size < offsetof(COMMCONFIG, dcb) + sizeof(DCB)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  DCB dcb = config->dcb;
  dcb.DCBlength = sizeof(DCB);
  DWORD error = port->device->apply(dcb);
  if (error != ERROR_SUCCESS) return fail(error);
  std::lock_guard<std::mutex> hold(port->lock);
  port->dcb = dcb;
  return TRUE;
}

BOOL device_port_set_timeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  std::shared_ptr<DevicePort> port = port_of(handle);
  if (port == nullptr) return FALSE;
  if (timeouts == nullptr) return fail(ERROR_INVALID_PARAMETER);
  // Reads queued from now on take the new interval.
  std::lock_guard<std::mutex> hold(port->lock);
  port->timeouts = *timeouts;
  return TRUE;
}

BOOL device_port_clear_error(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
  std::shared_ptr<DevicePort> port = port_of(handle);
  if (port == nullptr) return FALSE;
  DWORD flags = 0;
  DWORD error = port->device->clear_error(&flags);
  if (errors != nullptr) *errors = flags;
  if (status != nullptr) memset(status, 0, sizeof(COMSTAT));
  return result(error);
}

BOOL device_port_modem_status(HANDLE handle, LPDWORD status) {
  std::shared_ptr<DevicePort> port = port_of(handle);
  if (port == nullptr) return FALSE;
  if (status == nullptr) return fail(ERROR_INVALID_PARAMETER);
  return result(port->device->modem_status(status));
}

DCB serial_default_dcb(void) {
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = 9600;
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}
