#include "PushDataFuzz.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "interfaces/IPackageDispatcher.h"
#include "support/RecordingLog.h"

namespace {

struct Outcome {
  std::vector<std::string> payloads;
  // Payloads delivered before the first error callback or checksum error.
  std::size_t beforeFailure = SIZE_MAX;
  bool failed = false;

  static void OnPack(void* user, std::string_view payload) {
    static_cast<Outcome*>(user)->payloads.emplace_back(payload);
  }
  static void OnInfo(void*, const char* text) {
    if (text == nullptr || *text == '\0') Fail("empty info text");
  }
  static void OnError(void* user) { static_cast<Outcome*>(user)->MarkFailure(); }
  void MarkFailure() {
    if (!failed) beforeFailure = payloads.size();
    failed = true;
  }
  [[noreturn]] static void Fail(const char* what) {
    std::fprintf(stderr, "PushData invariant broken: %s\n", what);
    std::abort();
  }
};

struct Framer {
  Framer(int mode, bool crc) : framer(NewPackageDispatcher()) {
    framer->SetLenMode(mode);
    framer->SetCrcCheck(crc);
    framer->SetPackFunc(&Outcome::OnPack, &outcome);
    framer->SetInfoFunc(&Outcome::OnInfo, &outcome);
    framer->SetErrorFunc(&Outcome::OnError, &outcome);
  }
  ~Framer() { FreePackageDispatcher(framer); }
  void Push(std::string_view chunk) {
    try {
      framer->PushData(chunk);
    } catch (const PackCrcError&) {
      outcome.MarkFailure();
    }
  }
  IPackageDispatcher* framer;
  Outcome outcome;
};

// Chunk lengths drawn from a small generator seeded by the input.
struct Splitter {
  uint32_t state;
  std::size_t Next(std::size_t left) {
    state = state * 1103515245u + 12345u;
    const std::size_t limit = (state >> 16) % 4 == 0 ? 64 : 8;
    const std::size_t n = (state >> 8) % (limit + 1);
    return n < left ? n : left;
  }
};

void PushSplit(Framer& framer, std::string_view bytes, uint32_t seed) {
  Splitter split{seed};
  while (!bytes.empty()) {
    const std::size_t n = split.Next(bytes.size());
    framer.Push(bytes.substr(0, n));
    bytes.remove_prefix(n);
  }
}

}  // namespace

int FuzzPushData(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  RecordingLog log;  // the checksum error writes a log line
  const int mode = data[0] & 1;
  const bool crc = (data[0] & 2) != 0;
  const uint32_t seed = data[1] | (static_cast<uint32_t>(data[0]) << 8);
  const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);

  // The same bytes in one push and in many must give the same frames up to the first
  // failure, and the same carried-over tail when nothing failed.
  Framer whole(mode, crc);
  whole.Push(input);
  Framer split(mode, crc);
  PushSplit(split, input, seed);
  const Outcome& a = whole.outcome;
  const Outcome& b = split.outcome;
  if (a.failed != b.failed) Outcome::Fail("chunking changed whether the stream failed");
  if (!a.failed) {
    if (a.payloads != b.payloads) Outcome::Fail("chunking changed the frames");
  } else {
    if (a.beforeFailure != b.beforeFailure) Outcome::Fail("chunking moved the first failure");
    for (std::size_t i = 0; i < a.beforeFailure; ++i)
      if (a.payloads[i] != b.payloads[i]) Outcome::Fail("chunking changed a frame before the failure");
  }

  // Payloads cut from the input, packed and pushed in pieces, come back exactly.
  Framer roundTrip(mode, crc);
  std::vector<std::string> sent;
  std::string stream;
  Splitter cut{seed ^ 0x9E3779B9u};
  std::string_view rest = input;
  while (!rest.empty() || sent.empty()) {
    const std::size_t n = cut.Next(rest.size());
    sent.emplace_back(rest.substr(0, n));
    rest.remove_prefix(n);
    std::string frame(n + 16, '\0');
    const int written = roundTrip.framer->PackData(sent.back().data(), static_cast<int>(n), frame.data(),
                                                   static_cast<int>(frame.size()));
    if (written <= 0) Outcome::Fail("PackData refused a frame that fits");
    stream.append(frame, 0, static_cast<std::size_t>(written));
    if (rest.empty()) break;
  }
  PushSplit(roundTrip, stream, ~seed);
  if (roundTrip.outcome.failed || roundTrip.outcome.payloads != sent) Outcome::Fail("packed frames did not come back");
  return 0;
}
