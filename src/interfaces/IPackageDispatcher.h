// The stream framer's interface: payloads become frames (magic, length, payload, optional
// CRC-32) and a received byte stream, pushed in any chunking, becomes payloads again.
//
// A frame on the wire (little-endian):
//   FF CC | length (u32, or u16 in 16-bit mode) | payload | CRC-32 (u32, when checking)
// where length counts every byte after the head and the CRC covers every earlier byte.
#pragma once

#include <stdexcept>
#include <string_view>

// Callbacks are plain functions with an opaque user value passed back first; a null
// function means "not set". Chunks and payloads are counted byte strings that are only
// valid during the call.
typedef bool (*PackFilterFunc)(void* user, std::string_view chunk);
typedef void (*PackFunc)(void* user, std::string_view payload);
typedef void (*PackInfoFunc)(void* user, const char* text);
typedef void (*PackErrorFunc)(void* user);

// Raised out of PushData when a frame's stored CRC-32 does not match its bytes; its
// what() is "Pack CRC Error". The rest of the pushed bytes is dropped.
class PackCrcError : public std::runtime_error {
 public:
  PackCrcError() : std::runtime_error("Pack CRC Error") {}
};

class IPackageDispatcher {
 public:
  virtual void SetFilterFunc(PackFilterFunc func, void* user) = 0;
  virtual void SetPackFunc(PackFunc func, void* user) = 0;
  virtual void SetInfoFunc(PackInfoFunc func, void* user) = 0;
  virtual void SetErrorFunc(PackErrorFunc func, void* user) = 0;
  // Takes received bytes; complete frames go to the packet callback, an unfinished
  // tail waits for the next push. May raise PackCrcError.
  virtual void PushData(std::string_view chunk) = 0;
  // Writes the frame of `len` bytes at `data` into `buf`; returns its length, or 0 (and
  // writes nothing) when it does not fit into `maxBuff` bytes.
  virtual int PackData(const char* data, int len, char* buf, int maxBuff) = 0;
  // Forgets an unfinished frame.
  virtual void ClearBuffer() = 0;
  // 6 in 32-bit length mode (1), otherwise 4.
  virtual int GetPackHeadLen() = 0;
  // 1: 32-bit length field (default); 0: 16-bit length field.
  virtual void SetLenMode(int mode) = 0;
  // 4 when the checksum is on, otherwise 0.
  virtual int GetCrcLen() = 0;
  virtual void SetCrcCheck(bool check) = 0;
  virtual bool GetCrcCheck() = 0;

 protected:
  // A framer is destroyed only through FreePackageDispatcher, by the module that made it.
  virtual ~IPackageDispatcher() = default;
};

// Exported by the program to the components it loads (they find these by name).
extern "C" {
// A new framer: 32-bit length mode, checksum off, no callbacks, nothing carried over.
__attribute__((visibility("default"))) IPackageDispatcher* NewPackageDispatcher();
// Destroys a framer made by NewPackageDispatcher; null is ignored.
__attribute__((visibility("default"))) void FreePackageDispatcher(IPackageDispatcher* dispatcher);

typedef IPackageDispatcher* (*NewPackageDispatcherFunc)();
typedef void (*FreePackageDispatcherFunc)(IPackageDispatcher* dispatcher);
}
