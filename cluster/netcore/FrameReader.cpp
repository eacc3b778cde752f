#include "FrameReader.h"

#include <cstdio>
#include <exception>

namespace netcore {

namespace {

constexpr uint16_t kFrameMagic = 0xCCFF;

uint32_t LoadLe32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
         (static_cast<uint32_t>(b[3]) << 24);
}

uint16_t LoadLe16(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

std::string Printf(const char* format, unsigned long long a, unsigned long long b = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace

std::string FrameMessage(std::string_view head, std::string_view body) {
  const std::size_t length = head.size() + body.size();
  std::string frame("\xFF\xCC", 2);
  frame.reserve(kFrameHeadLen + length);
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
  frame.append(head);
  frame.append(body);
  return frame;
}

FrameReader::FrameReader(std::size_t maxMessage, NewPackageDispatcherFunc newFramer,
                         FreePackageDispatcherFunc freeFramer)
    : m_MaxMessage(maxMessage < kMaxFrameLen - kFrameHeadLen ? maxMessage : kMaxFrameLen - kFrameHeadLen) {
  if (newFramer == nullptr || freeFramer == nullptr) return;
  m_Framer = newFramer();
  if (m_Framer == nullptr) return;
  m_FreeFramer = freeFramer;
  m_Framer->SetPackFunc(&FrameReader::OnPayload, this);
  m_Framer->SetInfoFunc(&FrameReader::OnInfo, this);
  m_Framer->SetErrorFunc(&FrameReader::OnFramerError, this);
}

FrameReader::~FrameReader() {
  if (m_Framer != nullptr) m_FreeFramer(m_Framer);
}

void FrameReader::Reset() {
  m_Buffer.clear();
  m_Buffer.shrink_to_fit();
  m_Error.clear();
  if (m_Framer != nullptr) m_Framer->ClearBuffer();
}

// Only marks the failure: the framer may still be reading the buffer; Feed lets it go.
void FrameReader::Fail(std::string reason) {
  if (m_Error.empty()) m_Error = std::move(reason);
}

bool FrameReader::Feed(std::string_view bytes, Sink sink, void* user) {
  if (Failed()) return false;
  if (bytes.empty()) return true;
  // Work on the new bytes directly unless an unfinished frame waits for them.
  std::string_view work = bytes;
  if (!m_Buffer.empty()) {
    m_Buffer.append(bytes);
    work = m_Buffer;
  }

  // Find the complete frames at the front; check each head as soon as it is there, so a
  // bad one is refused before its body would be waited for.
  std::size_t end = 0;
  std::size_t frames = 0;
  std::string fault;
  while (work.size() - end >= kFrameHeadLen) {
    const char* head = work.data() + end;
    const uint16_t magic = LoadLe16(head);
    const uint32_t length = LoadLe32(head + 2);
    if (magic != kFrameMagic) {
      fault = Printf("no frame head at byte %llu of the stream (0x%04llx)", end, magic);
      break;
    }
    if (length > m_MaxMessage) {
      fault = Printf("a message of %llu bytes, more than the %llu allowed", length, m_MaxMessage);
      break;
    }
    if (length < kMessageHeadLen) {
      fault = Printf("a message of %llu bytes, shorter than its %llu-byte head", length, kMessageHeadLen);
      break;
    }
    if (work.size() - end < kFrameHeadLen + length) break;  // the rest is still on its way
    end += kFrameHeadLen + length;
    ++frames;
  }

  if (frames > 0) {
    m_Sink = sink;
    m_SinkUser = user;
    Deliver(work.substr(0, end), frames);
    m_Sink = nullptr;
    m_SinkUser = nullptr;
  }
  if (!fault.empty()) Fail(std::move(fault));
  if (Failed()) {
    m_Buffer.clear();
    m_Buffer.shrink_to_fit();
    return false;
  }

  // Keep the unfinished frame for the next bytes.
  if (work.data() == m_Buffer.data())
    m_Buffer.erase(0, end);
  else
    m_Buffer.assign(work.substr(end));
  return true;
}

void FrameReader::Deliver(std::string_view frames, std::size_t count) {
  m_Expected = count;
  if (m_Framer == nullptr) {
    // The heads were checked while the frames were found: each payload follows its head.
    for (std::size_t at = 0; at < frames.size() && !Failed();) {
      const std::size_t length = LoadLe32(frames.data() + at + 2);
      OnPayload(this, frames.substr(at + kFrameHeadLen, length));
      at += kFrameHeadLen + length;
    }
  } else {
    try {
      m_Framer->PushData(frames);
    } catch (const std::exception& error) {
      Fail(std::string("the framer refused the stream: ") + error.what());
    }
    if (!Failed() && m_Expected != 0) Fail(Printf("the framer delivered %llu frames too few", m_Expected));
  }
  m_Expected = 0;
}

void FrameReader::OnPayload(void* self, std::string_view payload) {
  auto* reader = static_cast<FrameReader*>(self);
  if (reader->Failed()) return;
  if (reader->m_Expected == 0) {
    reader->Fail("the framer delivered a frame that was not there");
    return;
  }
  --reader->m_Expected;
  if (reader->m_Sink != nullptr && !reader->m_Sink(reader->m_SinkUser, payload))
    reader->Fail("the receiver refused a message");
}

void FrameReader::OnInfo(void* self, const char* text) { static_cast<FrameReader*>(self)->m_LastInfo = text; }

void FrameReader::OnFramerError(void* self) {
  auto* reader = static_cast<FrameReader*>(self);
  reader->Fail("the framer refused the stream: " + reader->m_LastInfo);
}

}  // namespace netcore
