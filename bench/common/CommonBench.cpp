// Throughput of the CRC-32 against zlib's, and the keyed list's lookup.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "common/AIndexList.h"
#include "common/Utils.h"

namespace {

std::vector<unsigned char> RandomBytes(std::size_t size) {
  std::mt19937 random(7);
  std::vector<unsigned char> data(size);
  for (auto& b : data) b = static_cast<unsigned char>(random());
  return data;
}

void BM_Crc32(benchmark::State& state) {
  auto data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(Crc32(0, data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc32)->Arg(4096)->Arg(1 << 20);

void BM_ZlibCrc32(benchmark::State& state) {
  auto data = RandomBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(crc32(0, data.data(), static_cast<uInt>(data.size())));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ZlibCrc32)->Arg(4096)->Arg(1 << 20);

// Find among 10,000 keys spread over the 32-bit range, in a random order of look-ups.
void BM_AIndexListFind(benchmark::State& state) {
  AIndexList<int> list(true);
  std::mt19937 random(11);
  std::vector<uint32_t> keys;
  while (list.Count() < 10000) {
    uint32_t key = random();
    if (list.Add(key, new int(static_cast<int>(key)))) keys.push_back(key);
  }
  std::shuffle(keys.begin(), keys.end(), random);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(list.Find(keys[i]));
    if (++i == keys.size()) i = 0;
  }
}
BENCHMARK(BM_AIndexListFind);

}  // namespace

BENCHMARK_MAIN();
