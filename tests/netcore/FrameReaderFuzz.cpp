#include "FrameReaderFuzz.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "FrameReader.h"

namespace {

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "FrameReader invariant broken: %s\n", what);
  std::abort();
}

struct Run {
  std::vector<std::string> messages;
  std::size_t refuseAt = SIZE_MAX;  // the receiver refuses this message (0-based)
  bool failed = false;
  std::size_t pending = 0;

  static bool Sink(void* user, std::string_view message) {
    auto* run = static_cast<Run*>(user);
    if (run->messages.size() == run->refuseAt) return false;
    run->messages.emplace_back(message);
    return true;
  }
};

std::string Frame(const std::string& message) {
  std::string frame("\xFF\xCC", 2);
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>((message.size() >> (8 * i)) & 0xFF));
  return frame + message;
}

// Feeds `stream` in chunks whose lengths come from `seed` (0: one chunk), through the
// program's framer as the network core does, or without one as the status server does.
Run Feed(std::string_view stream, std::size_t maxMessage, std::size_t refuseAt, uint32_t seed, bool framer) {
  netcore::FrameReader reader(maxMessage, framer ? &NewPackageDispatcher : nullptr,
                              framer ? &FreePackageDispatcher : nullptr);
  Run run;
  run.refuseAt = refuseAt;
  std::size_t position = 0;
  while (position < stream.size()) {
    std::size_t chunk = stream.size() - position;
    if (seed != 0) {
      seed = seed * 1103515245u + 12345u;
      chunk = std::min<std::size_t>(chunk, 1 + (seed >> 16) % 40);
    }
    const std::size_t before = run.messages.size();
    const bool ok = reader.Feed(stream.substr(position, chunk), &Run::Sink, &run);
    if (run.failed && run.messages.size() != before) Broken("a message delivered after a failure");
    if (!ok) {
      if (reader.Error().empty()) Broken("a failure without a reason");
      run.failed = true;
    } else if (reader.Pending() >= netcore::kFrameHeadLen + maxMessage) {
      Broken("more held back than one unfinished frame");
    }
    position += chunk;
  }
  run.pending = reader.Failed() ? 0 : reader.Pending();
  return run;
}

}  // namespace

int FuzzFrameReader(const uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::size_t maxMessage = 9 + data[0] % 64;
  const std::size_t refuseAt = data[1] == 255 ? SIZE_MAX : data[1] % 8;
  const uint32_t seed = data[2] | 1u;
  const std::string_view stream(reinterpret_cast<const char*>(data) + 3, size - 3);

  const Run whole = Feed(stream, maxMessage, refuseAt, 0, true);
  const Run pieces = Feed(stream, maxMessage, refuseAt, seed, true);
  const Run own = Feed(stream, maxMessage, refuseAt, seed, false);

  for (const Run* run : {&whole, &pieces, &own}) {
    // What was delivered is exactly the start of the stream, frame by frame.
    std::string again;
    for (const std::string& message : run->messages) {
      if (message.size() < netcore::kMessageHeadLen) Broken("a message shorter than its head");
      if (message.size() > maxMessage) Broken("a message over the limit");
      again += Frame(message);
    }
    if (stream.substr(0, again.size()) != again) Broken("delivered messages differ from the stream");
    // A good stream is whole messages and one unfinished frame.
    if (!run->failed && again.size() + run->pending != stream.size()) Broken("bytes lost from a good stream");
    if (run->messages.size() > refuseAt) Broken("messages past a refusal");
  }
  // The chunking changes nothing.
  if (whole.failed != pieces.failed) Broken("chunking changed the outcome");
  if (whole.messages != pieces.messages) Broken("chunking changed the messages");
  // Without the program's framer the reader cuts the same messages.
  if (own.failed != pieces.failed || own.messages != pieces.messages) Broken("the reader's own cut differs");
  return 0;
}
