// Framing and pool costs, each beside its anchor: PackData and PushData against memcpy of
// the same bytes (and, with the checksum, against zlib's crc32 of them); AllocPacket +
// FreePacket against new/delete of a packet, on one thread and on two.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "packet/MMORPGPacketPool.h"
#include "packet/VmPackageDispatcher.h"

namespace {

// No log object is handed to the packet layer, so its lines go nowhere: the benchmarks
// measure the packet code, not a log.

std::string Payload(std::size_t size) {
  std::string payload(size, '\0');
  for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<char>(i * 131 + 7);
  return payload;
}

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// --- anchors ---

void BM_Memcpy(benchmark::State& state) {
  const std::string payload = Payload(static_cast<std::size_t>(state.range(0)));
  std::string buffer(payload.size() + 16, '\0');
  for (auto _ : state) {
    std::memcpy(buffer.data(), payload.data(), payload.size());
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  SetBytes(state);
}

void BM_ZlibCrc32(benchmark::State& state) {
  const std::string payload = Payload(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(payload.data()), static_cast<uInt>(payload.size()));
    benchmark::DoNotOptimize(crc);
  }
  SetBytes(state);
}

// --- framing ---

void BM_PackData(benchmark::State& state) {
  VmPackageDispatcher framer;
  framer.SetCrcCheck(state.range(1) != 0);
  const std::string payload = Payload(static_cast<std::size_t>(state.range(0)));
  std::string buffer(payload.size() + 16, '\0');
  for (auto _ : state) {
    int n = framer.PackData(payload.data(), static_cast<int>(payload.size()), buffer.data(),
                            static_cast<int>(buffer.size()));
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  SetBytes(state);
}

void CountPayload(void* user, std::string_view payload) { *static_cast<std::size_t*>(user) += payload.size(); }

// One frame of a payload of `size` bytes, packed by `framer` with its checksum setting.
std::string PackedFrame(VmPackageDispatcher& framer, std::size_t size) {
  const std::string payload = Payload(size);
  std::string frame(payload.size() + 16, '\0');
  frame.resize(static_cast<std::size_t>(
      framer.PackData(payload.data(), static_cast<int>(payload.size()), frame.data(), static_cast<int>(frame.size()))));
  return frame;
}

// One whole frame per push (the common case: the transport hands over what arrived).
void BM_PushData(benchmark::State& state) {
  VmPackageDispatcher framer;
  framer.SetCrcCheck(state.range(1) != 0);
  std::size_t delivered = 0;
  framer.SetPackFunc(&CountPayload, &delivered);
  const std::string frame = PackedFrame(framer, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    framer.PushData(frame);
    benchmark::DoNotOptimize(delivered);
  }
  SetBytes(state);
}

// Every frame split in two, so its tail is carried over and joined to the next push.
void BM_PushDataSplit(benchmark::State& state) {
  VmPackageDispatcher framer;
  framer.SetCrcCheck(state.range(1) != 0);
  std::size_t delivered = 0;
  framer.SetPackFunc(&CountPayload, &delivered);
  const std::string frame = PackedFrame(framer, static_cast<std::size_t>(state.range(0)));
  const std::string_view whole(frame);
  const std::size_t half = whole.size() / 2;
  for (auto _ : state) {
    framer.PushData(whole.substr(0, half));
    framer.PushData(whole.substr(half));
    benchmark::DoNotOptimize(delivered);
  }
  SetBytes(state);
}

void FramingArgs(benchmark::internal::Benchmark* b) {
  for (int crc : {0, 1})
    for (int size : {64, 1024, 65536}) b->Args({size, crc});
}
void SizeArgs(benchmark::internal::Benchmark* b) {
  for (int size : {64, 1024, 65536}) b->Arg(size);
}

// --- pool ---

void BM_AllocFreePacket(benchmark::State& state) {
  if (state.thread_index() == 0) FreePacket(AllocPacket());  // the pool exists before timing
  for (auto _ : state) {
    MMORPG::MMORPGPacket* packet = AllocPacket();
    benchmark::DoNotOptimize(packet);
    FreePacket(packet);
  }
}

void BM_NewDeletePacket(benchmark::State& state) {
  for (auto _ : state) {
    auto* packet = new MMORPG::MMORPGPacket();
    benchmark::DoNotOptimize(packet);
    delete packet;
  }
}

}  // namespace

BENCHMARK(BM_Memcpy)->Apply(SizeArgs);
BENCHMARK(BM_ZlibCrc32)->Apply(SizeArgs);
BENCHMARK(BM_PackData)->Apply(FramingArgs);
BENCHMARK(BM_PushData)->Apply(FramingArgs);
BENCHMARK(BM_PushDataSplit)->Apply(FramingArgs);
BENCHMARK(BM_AllocFreePacket)->Threads(1)->Threads(2);
BENCHMARK(BM_NewDeletePacket)->Threads(1)->Threads(2);

BENCHMARK_MAIN();
