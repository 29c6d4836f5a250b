// The virtual receiver behind "sim:" port handles on Windows (see
// sim_port_win32.h). Each port has a handle of its own (an event object, so
// that no other handle can have its value), the settings last applied, and,
// from the first ReadFileEx, a thread that runs the reads: the receiver sends
// nothing, so a read waits until the port closes or the adapter is pulled.
#define WIRE_TRACE_WIN32_IMPLEMENTATION
#include "platform/win32/sim_port_win32.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/posix/serial_device.h"

namespace {

// Windows keeps the request's status in Internal while it is pending.
const ULONG_PTR STATUS_PENDING_VALUE = 0x103;

struct Completion {
  LPOVERLAPPED_COMPLETION_ROUTINE routine;
  DWORD error;
  DWORD transferred;
  LPOVERLAPPED overlapped;
};

struct ReadRequest {
  BYTE *buffer;
  DWORD length;
  DWORD interval_ms;
  LPOVERLAPPED overlapped;
  LPOVERLAPPED_COMPLETION_ROUTINE routine;
  HANDLE issuer;  // the thread that queued it, for its APC
};

struct SimPort {
  SerialDevice *device = nullptr;  // owned
  std::mutex lock;                 // guards everything below
  DCB dcb;
  COMMTIMEOUTS timeouts = {0, 0, 0, 0, 0};
  DWORD read_failure = ERROR_SUCCESS;  // a dead adapter refuses every later read
  std::condition_variable reads_changed;
  std::deque<ReadRequest> reads;
  std::thread reader;
  bool reading = false;
  bool closing = false;
  ~SimPort() { delete device; }
};

std::mutex table_lock;
// Never destroyed: a reader may still wait on a port while the process exits.
std::map<HANDLE, std::shared_ptr<SimPort>> &table() {
  static auto *ports = new std::map<HANDLE, std::shared_ptr<SimPort>>;
  return *ports;
}

std::shared_ptr<SimPort> port_of(HANDLE handle) {
  std::lock_guard<std::mutex> hold(table_lock);
  auto found = table().find(handle);
  if (found != table().end()) return found->second;
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL result(DWORD error) {
  return error == ERROR_SUCCESS ? TRUE : fail(error);
}

// ---------------------------------------------------------------- completions

void CALLBACK run_completion(ULONG_PTR param) {
  Completion *done = reinterpret_cast<Completion *>(param);
  done->overlapped->Internal = done->error;
  done->overlapped->InternalHigh = done->transferred;
  if (done->routine != nullptr) done->routine(done->error, done->transferred, done->overlapped);
  delete done;
}

void post_completion(HANDLE thread, LPOVERLAPPED_COMPLETION_ROUTINE routine, DWORD error,
                     DWORD transferred, LPOVERLAPPED overlapped) {
  Completion *done = new Completion{routine, error, transferred, overlapped};
  if (!QueueUserAPC(run_completion, thread, reinterpret_cast<ULONG_PTR>(done))) delete done;
}

// A handle to this thread that another thread can queue an APC on.
HANDLE this_thread(void) {
  HANDLE thread = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread,
                  THREAD_SET_CONTEXT, FALSE, 0);
  return thread;
}

// ---------------------------------------------------------------- reads

void run_read(SimPort &port, ReadRequest &request) {
  DWORD got = 0;
  DWORD error = port.device->read(request.buffer, request.length, request.interval_ms, &got);
  if (error != ERROR_SUCCESS && error != ERROR_OPERATION_ABORTED) {
    std::lock_guard<std::mutex> hold(port.lock);
    if (port.read_failure == ERROR_SUCCESS) port.read_failure = error;
  }
  post_completion(request.issuer, request.routine, error, got, request.overlapped);
  CloseHandle(request.issuer);
}

void reader_main(SimPort *port) {
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
    post_completion(request.issuer, request.routine, ERROR_OPERATION_ABORTED, 0,
                    request.overlapped);
    CloseHandle(request.issuer);
  }
  port->reads.clear();
}

void stop_reader(SimPort &port) {
  std::unique_lock<std::mutex> hold(port.lock);
  if (!port.reader.joinable()) return;
  port.closing = true;
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

// ---------------------------------------------------------------- the platform's part

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

SerialDevice *serial_device_of(HANDLE handle) {
  std::lock_guard<std::mutex> hold(table_lock);
  auto found = table().find(handle);
  return found == table().end() ? nullptr : found->second->device;
}

// ---------------------------------------------------------------- opening and closing

bool sim_port_name(LPCSTR name) {
  return name != nullptr && strncmp(name, "sim:", 4) == 0;
}

bool sim_port_handle(HANDLE handle) {
  std::lock_guard<std::mutex> hold(table_lock);
  return table().count(handle) != 0;
}

HANDLE sim_port_open(LPCSTR name) {
  DWORD error = ERROR_GEN_FAILURE;
  SerialDevice *device = virtual_receiver_open_device(name, &error);
  if (device == nullptr) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (handle == nullptr) {
    delete device;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  std::shared_ptr<SimPort> port = std::make_shared<SimPort>();
  port->device = device;
  port->dcb = serial_default_dcb();
  std::lock_guard<std::mutex> hold(table_lock);
  table()[handle] = port;
  SetLastError(ERROR_SUCCESS);
  return handle;
}

// Pending reads end with ERROR_OPERATION_ABORTED; the receiver closes its
// files when the last call still using it returns.
BOOL sim_port_close(HANDLE handle) {
  std::shared_ptr<SimPort> port;
  {
    std::lock_guard<std::mutex> hold(table_lock);
    auto found = table().find(handle);
    if (found == table().end()) return fail(ERROR_INVALID_HANDLE);
    port = found->second;
    table().erase(found);
  }
  stop_reader(*port);
  return CloseHandle(handle);
}

// ---------------------------------------------------------------- transfers

BOOL sim_port_write(HANDLE handle, LPCVOID data, DWORD length, LPDWORD written,
                    LPOVERLAPPED overlapped) {
  std::shared_ptr<SimPort> port = port_of(handle);
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

// The bytes go out at once on this thread (a write returns only once they
// have left anyway); the routine runs in the next alertable wait.
BOOL sim_port_write_ex(HANDLE handle, LPCVOID data, DWORD length, LPOVERLAPPED overlapped,
                       LPOVERLAPPED_COMPLETION_ROUTINE completed) {
  std::shared_ptr<SimPort> port = port_of(handle);
  if (port == nullptr) return FALSE;
  if (overlapped == nullptr || (data == nullptr && length > 0)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  overlapped->Internal = STATUS_PENDING_VALUE;
  DWORD written = 0;
  DWORD error = port->device->write(static_cast<const BYTE *>(data), length, &written);
  post_completion(GetCurrentThread(), completed, error, written, overlapped);
  return TRUE;
}

BOOL sim_port_read_ex(HANDLE handle, LPVOID data, DWORD length, LPOVERLAPPED overlapped,
                      LPOVERLAPPED_COMPLETION_ROUTINE completed) {
  std::shared_ptr<SimPort> port = port_of(handle);
  if (port == nullptr) return FALSE;
  if (overlapped == nullptr || (data == nullptr && length > 0)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  std::lock_guard<std::mutex> hold(port->lock);
  if (port->read_failure != ERROR_SUCCESS) return fail(port->read_failure);
  HANDLE issuer = this_thread();
  if (issuer == nullptr) return fail(ERROR_NOT_ENOUGH_MEMORY);
  if (!port->reader.joinable()) port->reader = std::thread(reader_main, port.get());
  overlapped->Internal = STATUS_PENDING_VALUE;
  port->reads.push_back(ReadRequest{static_cast<BYTE *>(data), length,
                                    port->timeouts.ReadIntervalTimeout, overlapped, completed,
                                    issuer});
  port->reads_changed.notify_all();
  return TRUE;
}

// ---------------------------------------------------------------- settings and status

BOOL sim_port_get_config(HANDLE handle, LPCOMMCONFIG config, LPDWORD size) {
  std::shared_ptr<SimPort> port = port_of(handle);
  if (port == nullptr) return FALSE;
  if (size == nullptr) return fail(ERROR_INVALID_PARAMETER);
  if (config == nullptr || *size < sizeof(COMMCONFIG)) {
    *size = sizeof(COMMCONFIG);
    return fail(ERROR_INSUFFICIENT_BUFFER);
  }
  memset(config, 0, sizeof(COMMCONFIG));
  config->dwSize = sizeof(COMMCONFIG);
  config->wVersion = 1;
  config->dwProviderSubType = PST_RS232;
  std::lock_guard<std::mutex> hold(port->lock);
  config->dcb = port->dcb;
  *size = sizeof(COMMCONFIG);
  return TRUE;
}

BOOL sim_port_set_state(HANDLE handle, LPDCB dcb) {
  std::shared_ptr<SimPort> port = port_of(handle);
  if (port == nullptr) return FALSE;
  if (dcb == nullptr) return fail(ERROR_INVALID_PARAMETER);
  DCB applied = *dcb;
  applied.DCBlength = sizeof(DCB);
  DWORD error = port->device->apply(applied);
  if (error != ERROR_SUCCESS) return fail(error);
  std::lock_guard<std::mutex> hold(port->lock);
  port->dcb = applied;
  return TRUE;
}

BOOL sim_port_set_config(HANDLE handle, LPCOMMCONFIG config, DWORD size) {
  if (config == nullptr || size < offsetof(COMMCONFIG, dcb) + sizeof(DCB)) {
    return sim_port_handle(handle) ? fail(ERROR_INVALID_PARAMETER) : fail(ERROR_INVALID_HANDLE);
  }
  return sim_port_set_state(handle, &config->dcb);
}

BOOL sim_port_get_state(HANDLE handle, LPDCB dcb) {
  std::shared_ptr<SimPort> port = port_of(handle);
  if (port == nullptr) return FALSE;
  if (dcb == nullptr) return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> hold(port->lock);
  *dcb = port->dcb;
  return TRUE;
}

BOOL sim_port_set_timeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  std::shared_ptr<SimPort> port = port_of(handle);
  if (port == nullptr) return FALSE;
  if (timeouts == nullptr) return fail(ERROR_INVALID_PARAMETER);
  // Reads queued from now on take the new interval.
  std::lock_guard<std::mutex> hold(port->lock);
  port->timeouts = *timeouts;
  return TRUE;
}

BOOL sim_port_clear_error(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
  std::shared_ptr<SimPort> port = port_of(handle);
  if (port == nullptr) return FALSE;
  DWORD flags = 0;
  DWORD error = port->device->clear_error(&flags);
  if (errors != nullptr) *errors = flags;
  if (status != nullptr) memset(status, 0, sizeof(COMSTAT));
  return result(error);
}

BOOL sim_port_modem_status(HANDLE handle, LPDWORD status) {
  std::shared_ptr<SimPort> port = port_of(handle);
  if (port == nullptr) return FALSE;
  if (status == nullptr) return fail(ERROR_INVALID_PARAMETER);
  return result(port->device->modem_status(status));
}
