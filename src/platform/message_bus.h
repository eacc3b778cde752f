// The message bus: window handles and window messages between processes of one user.
//
// Every window that takes part (the manager's main window, each map server, the
// controller) opens an endpoint with a non-zero 32-bit handle, a class and a title.
// Endpoints live in a per-user runtime directory that only its owner can enter
// ($XDG_RUNTIME_DIR/vemo-bus when that is absolute, else /tmp/vemo-bus-<uid>, mode 0700;
// see runtime_dir.h). Messages are datagrams; the owner reads them on its own event-loop
// thread: it watches Fd() (a Qt QSocketNotifier, or poll) and calls Dispatch(), which hands
// each message to the callback.
// Endpoints of dead processes are never found; a process that ends at once (EndProcess)
// removes its endpoints' files. A short or oversized datagram, or one with an unknown tag,
// is dropped with a debug line; datagrams from another user are dropped and counted, the
// first reported at once and the rest at most once a minute.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

using WindowHandle = uint32_t;

// Window messages the system uses, with their Windows numbers.
constexpr uint32_t WM_SYSCOMMAND = 274;
constexpr uint32_t SC_MINIMIZE = 61472;
constexpr uint32_t SC_RESTORE = 61728;
constexpr uint32_t WM_COPYDATA = 74;
constexpr uint32_t WM_USER = 1024;

// What arrives at an endpoint.
struct BusMessage {
  enum class Kind : uint8_t {
    Message = 1,   // send or post of (Msg, WParam, LParam)
    CopyData = 2,  // copy data: a number (Msg holds it) and a block of bytes
    Show = 3,      // show the window in its current size and position
    Minimize = 4,
    Restore = 5,
    Raise = 6,  // bring to the foreground
  };
  Kind kind = Kind::Message;
  WindowHandle From = 0;
  uint32_t SenderPid = 0;
  uint32_t Msg = 0;
  uint64_t WParam = 0;
  uint64_t LParam = 0;
  std::vector<uint8_t> Data;  // CopyData only
};

class BusEndpoint {
 public:
  using Handler = std::function<void(const BusMessage&)>;

  // Opens an endpoint with a fresh non-zero handle; null (with a debug line) on failure.
  static std::unique_ptr<BusEndpoint> Open(const std::string& windowClass, const std::string& title, Handler handler);
  ~BusEndpoint();
  BusEndpoint(const BusEndpoint&) = delete;
  BusEndpoint& operator=(const BusEndpoint&) = delete;

  WindowHandle Handle() const;
  const std::string& Class() const;
  const std::string& Title() const;
  void SetTitle(const std::string& title);

  // The descriptor to watch for readability.
  int Fd() const;
  // Reads every waiting datagram and calls the handler for each well-formed one.
  // Returns the number handed over.
  int Dispatch();
  // Waits up to `timeoutMs` for a datagram, then dispatches (for programs without Qt).
  int Pump(int timeoutMs);

 private:
  struct Impl;
  explicit BusEndpoint(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_Impl;
};

// Finds a live endpoint by class and title (both compared exactly; an empty class or title
// matches any, as FindWindow with a null argument). 0 when none.
WindowHandle FindWindow(const std::string& windowClass, const std::string& title);
// True when an endpoint with that handle is live.
bool IsWindow(WindowHandle window);
// The process id of the endpoint's owner, 0 when none.
uint32_t GetWindowProcessId(WindowHandle window);

// Delivery. All are datagrams to the endpoint; false when the window does not exist or
// the datagram could not be queued. SendMessage delivers the same way (the system never
// uses a send's result beyond delivery).
//
// A receiver whose queue is full is waited for, up to a second per datagram, then the
// datagram is dropped with a debug line. A window thread must never wait so: once it has
// called SetNonBlockingSends(true), whatever its receiver cannot take at once goes to the
// bus's sender thread, which delivers it (in order with the thread's later datagrams to
// that window) or drops it after that second with a debug line; the send returns at once.
void SetNonBlockingSends(bool never);
// Waits up to `timeoutMs` until the sender thread has delivered (or dropped) everything
// handed to it; a process calls it before it ends, so that its last messages are not lost.
void FlushDeferredSends(int timeoutMs);
bool PostMessage(WindowHandle to, uint32_t msg, uint64_t wParam, uint64_t lParam, WindowHandle from = 0);
bool SendMessage(WindowHandle to, uint32_t msg, uint64_t wParam, uint64_t lParam, WindowHandle from = 0);
bool SendCopyData(WindowHandle to, uint32_t number, const void* data, std::size_t size, WindowHandle from = 0);
bool ShowWindow(WindowHandle window);
bool MinimizeWindow(WindowHandle window);
bool RestoreWindow(WindowHandle window);
bool SetForegroundWindow(WindowHandle window);

// The largest copy-data block a datagram carries.
constexpr std::size_t kMaxCopyDataSize = 60000;

}  // namespace platform
