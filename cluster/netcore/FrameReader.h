// The receiving half of the status link's wire format, shared by the network core and the
// status server: a byte stream of frames (FF CC, u32 length, no checksum) whose payloads are
// messages, each the 9-byte packet head followed by the body.
//
// In the network core the frames are cut and delivered by the framer of the program that
// loaded it (handed over as NewPackageDispatcher and FreePackageDispatcher); a program of its
// own (the status server) gives none, and the reader delivers the frames it has delimited
// itself. Either way the reader adds what a connection to an untrusted peer needs: a limit on
// the size of one message, the refusal of a message too short to hold its head, and a stream
// that stays linear in time when a large message arrives in many small reads (only whole
// frames reach the framer, so it never has to join a growing carry-over with every read).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "interfaces/IPackageDispatcher.h"

namespace netcore {

// Bytes of the frame head: the magic FF CC and the u32 length.
constexpr std::size_t kFrameHeadLen = 6;
// Bytes of the packet head that starts every message.
constexpr std::size_t kMessageHeadLen = 9;
// The framer refuses frames longer than this (head included).
constexpr std::size_t kMaxFrameLen = 104857600;

class FrameReader {
 public:
  // Receives each complete message (head and body); returning false refuses it and every
  // later one, which fails the stream. The bytes are valid only during the call.
  using Sink = bool (*)(void* user, std::string_view message);

  // `maxMessage`: the largest message (head and body) the peer may send. `newFramer` and
  // `freeFramer`: the program's framer, or null for none.
  explicit FrameReader(std::size_t maxMessage, NewPackageDispatcherFunc newFramer = nullptr,
                       FreePackageDispatcherFunc freeFramer = nullptr);
  ~FrameReader();
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;

  // Takes received bytes in any chunking. Complete messages go to the sink in order, those
  // before a fault included. False once the stream is bad (Error() says why); a failed
  // reader refuses everything until Reset.
  bool Feed(std::string_view bytes, Sink sink, void* user);
  // Forgets an unfinished frame and a failure: a new connection starts afresh.
  void Reset();

  bool Failed() const { return !m_Error.empty(); }
  const std::string& Error() const { return m_Error; }
  // Bytes of an unfinished frame that the reader holds.
  std::size_t Pending() const { return m_Buffer.size(); }
  std::size_t MaxMessage() const { return m_MaxMessage; }

 private:
  static void OnPayload(void* self, std::string_view payload);
  static void OnInfo(void* self, const char* text);
  static void OnFramerError(void* self);
  void Fail(std::string reason);

  // Hands the whole frames at the front of `frames` to the sink, through the framer if any.
  void Deliver(std::string_view frames, std::size_t count);

  std::size_t m_MaxMessage;
  IPackageDispatcher* m_Framer = nullptr;
  FreePackageDispatcherFunc m_FreeFramer = nullptr;
  std::string m_Buffer;  // an unfinished frame, from its first byte
  std::string m_Error;   // empty while the stream is good
  std::string m_LastInfo;
  // The sink of the Feed in progress, and how many frames the framer has yet to deliver.
  Sink m_Sink = nullptr;
  void* m_SinkUser = nullptr;
  std::size_t m_Expected = 0;
};

// One message (head and body) as a frame of the link: FF CC, the u32 length, the message.
std::string FrameMessage(std::string_view head, std::string_view body);

}  // namespace netcore
