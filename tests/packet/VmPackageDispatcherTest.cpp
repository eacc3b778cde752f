#include "packet/VmPackageDispatcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "FramerTestHelpers.h"
#include "common/Utils.h"
#include "packet/VemoPackKeyDictFetcher.h"
#include "support/RecordingLog.h"

namespace {

struct FramerDeleter {
  void operator()(IPackageDispatcher* framer) const { FreePackageDispatcher(framer); }
};
using FramerPtr = std::unique_ptr<IPackageDispatcher, FramerDeleter>;

FramerPtr MakeFramer(int lenMode = 1, bool crc = false) {
  FramerPtr framer(NewPackageDispatcher());
  framer->SetLenMode(lenMode);
  framer->SetCrcCheck(crc);
  return framer;
}

std::string Pack(IPackageDispatcher* framer, const std::string& payload) {
  std::string buffer(payload.size() + 16, '\0');
  int n = framer->PackData(payload.data(), static_cast<int>(payload.size()), buffer.data(),
                           static_cast<int>(buffer.size()));
  buffer.resize(static_cast<std::size_t>(n));
  return buffer;
}

// A 32-bit mode head with the given length field.
std::string Head32(uint32_t length) {
  return Bytes(
      {0xFF, 0xCC, int(length & 0xFF), int((length >> 8) & 0xFF), int((length >> 16) & 0xFF), int(length >> 24)});
}

const std::string kWaitHead3 = "需要等待的封包:0xffffffff,3";

}  // namespace

TEST(VmPackageDispatcher, PackDataWritesTheFrameInEachMode) {
  RecordingLog log;
  EXPECT_EQ(Pack(MakeFramer(1).get(), "abc"), Bytes({0xFF, 0xCC, 0x03, 0, 0, 0, 'a', 'b', 'c'}));
  EXPECT_EQ(Pack(MakeFramer(0).get(), "abc"), Bytes({0xFF, 0xCC, 0x03, 0, 'a', 'b', 'c'}));
  const std::string checked = Bytes({0xFF, 0xCC, 0x07, 0, 0, 0, 'a', 'b', 'c', 0xC3, 0xEC, 0x8D, 0x8D});
  auto framer = MakeFramer(1, true);
  EXPECT_EQ(Pack(framer.get(), "abc"), checked);
  FramerEvents seen;
  seen.Attach(framer.get());
  framer->PushData(checked);
  EXPECT_EQ(seen.events, std::vector<std::string>{"pack:abc"});
  // 16-bit length with the checksum: the CRC covers the 4-byte head and the payload.
  EXPECT_EQ(Pack(MakeFramer(0, true).get(), "abc"),
            Bytes({0xFF, 0xCC, 0x07, 0, 'a', 'b', 'c', 0x41, 0x0F, 0x35, 0x11}));
  EXPECT_TRUE(log.Lines().empty());
}

TEST(VmPackageDispatcher, PackDataRefusesABufferThatIsTooSmall) {
  RecordingLog log;
  auto framer = MakeFramer(1, true);
  char buffer[13];
  std::memset(buffer, 0x5A, sizeof buffer);
  EXPECT_EQ(framer->PackData("abc", 3, buffer, 12), 0);
  EXPECT_EQ(log.Texts(llFatal),
            std::vector<std::string>{"VmPackageDispatcher::PackData packHeadLen(6) + totalPackLen(7) > maxBuff(12)"});
  for (char c : buffer) EXPECT_EQ(c, 0x5A) << "nothing may be written";
  EXPECT_EQ(framer->PackData("abc", 3, buffer, 13), 13);
  log.Clear();
  EXPECT_EQ(framer->PackData("abc", 3, buffer, -1), 0);
  EXPECT_EQ(log.Texts(llFatal),
            std::vector<std::string>{"VmPackageDispatcher::PackData packHeadLen(6) + totalPackLen(7) > maxBuff(-1)"});

  // Arguments that cannot describe a frame are refused the same way.
  log.Clear();
  EXPECT_EQ(framer->PackData("abc", -1, buffer, 13), 0);
  EXPECT_EQ(framer->PackData(nullptr, 3, buffer, 13), 0);
  EXPECT_EQ(framer->PackData("abc", 3, nullptr, 13), 0);
  EXPECT_EQ(log.Texts(llFatal).size(), 3u);
}

TEST(VmPackageDispatcher, PackDataRefusesWhatA16BitLengthCannotHold) {
  RecordingLog log;
  auto framer = MakeFramer(0, true);
  std::string payload(65531, 'x');
  std::string buffer(70000, '\0');
  EXPECT_EQ(framer->PackData(payload.data(), 65532, buffer.data(), 70000), 0);
  EXPECT_EQ(log.Texts(llFatal), std::vector<std::string>{
                                    "VmPackageDispatcher::PackData totalPackLen(65536) > 65535 in 16-bit length mode"});
  EXPECT_EQ(framer->PackData(payload.data(), 65531, buffer.data(), 70000), 65539);
}

TEST(VmPackageDispatcher, PushDataDeliversWholeFramesInOrder) {
  RecordingLog log;
  for (int mode : {0, 1}) {
    for (bool crc : {false, true}) {
      auto framer = MakeFramer(mode, crc);
      FramerEvents seen;
      seen.Attach(framer.get());
      framer->PushData(Pack(framer.get(), "abc") + Pack(framer.get(), "") + Pack(framer.get(), "hello"));
      EXPECT_EQ(seen.events, (std::vector<std::string>{"pack:abc", "pack:", "pack:hello"}))
          << "mode " << mode << " crc " << crc;
    }
  }
  EXPECT_TRUE(log.Lines().empty());
}

TEST(VmPackageDispatcher, SplitFrameWaitsAndIsDeliveredAfterTheSecondPush) {
  auto framer = MakeFramer();
  FramerEvents seen;
  seen.Attach(framer.get());
  const std::string frame = Pack(framer.get(), "abc");

  framer->PushData(frame.substr(0, 3));  // inside the head
  EXPECT_EQ(seen.events, std::vector<std::string>{"info:" + kWaitHead3});
  framer->PushData(frame.substr(3));
  EXPECT_EQ(seen.payloads, std::vector<std::string>{"abc"});

  seen = FramerEvents();
  framer->PushData(frame.substr(0, 7));  // inside the payload
  EXPECT_EQ(seen.events, std::vector<std::string>{"info:需要等待的封包:0xffffffff,7"});
  framer->PushData(frame.substr(7));
  EXPECT_EQ(seen.payloads, std::vector<std::string>{"abc"});
  EXPECT_EQ(static_cast<VmPackageDispatcher*>(framer.get())->CarryOverSize(), 0u);
}

TEST(VmPackageDispatcher, AStreamSplitAtEveryByteGivesTheSameFrames) {
  for (int mode : {0, 1}) {
    for (bool crc : {false, true}) {
      auto framer = MakeFramer(mode, crc);
      const std::string stream = Pack(framer.get(), "first") + Pack(framer.get(), "") + Pack(framer.get(), "third!");
      for (std::size_t a = 0; a <= stream.size(); ++a) {
        for (std::size_t b = a; b <= stream.size(); ++b) {
          FramerEvents seen;
          seen.Attach(framer.get());
          framer->PushData(std::string_view(stream).substr(0, a));
          framer->PushData(std::string_view(stream).substr(a, b - a));
          framer->PushData(std::string_view(stream).substr(b));
          ASSERT_EQ(seen.payloads, (std::vector<std::string>{"first", "", "third!"}))
              << "mode " << mode << " crc " << crc << " split " << a << "," << b;
          ASSERT_EQ(seen.errors, 0);
        }
      }
    }
  }
}

TEST(VmPackageDispatcher, AFrameFollowedByPartOfTheNextCarriesThePartOver) {
  auto framer = MakeFramer();
  FramerEvents seen;
  seen.Attach(framer.get());
  const std::string second = Pack(framer.get(), "xyz");
  framer->PushData(Pack(framer.get(), "abc") + second.substr(0, 3));
  EXPECT_EQ(seen.events, (std::vector<std::string>{"pack:abc", "info:" + kWaitHead3}));
  EXPECT_EQ(static_cast<VmPackageDispatcher*>(framer.get())->CarryOverSize(), 3u);
  framer->PushData(second.substr(3));
  EXPECT_EQ(seen.payloads, (std::vector<std::string>{"abc", "xyz"}));
}

TEST(VmPackageDispatcher, WrongMagicIsReportedAndTheRestDropped) {
  auto framer = MakeFramer();
  FramerEvents seen;
  seen.Attach(framer.get());
  framer->PushData(Bytes({0x00, 0x01, 3, 0, 0, 0, 'a', 'b', 'c'}) + Pack(framer.get(), "abc"));
  EXPECT_EQ(seen.events, (std::vector<std::string>{"info:封包错误:0x100", "error"}));

  // A good frame followed by garbage: the frame is delivered, nothing is carried over.
  seen = FramerEvents();
  framer->PushData(Pack(framer.get(), "ok") + Bytes({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE}));
  EXPECT_EQ(seen.events, (std::vector<std::string>{"pack:ok", "info:封包错误:0x3412", "error"}));
  EXPECT_EQ(static_cast<VmPackageDispatcher*>(framer.get())->CarryOverSize(), 0u);
}

TEST(VmPackageDispatcher, LengthLimitIs100MiB) {
  auto framer = MakeFramer();
  FramerEvents seen;
  seen.Attach(framer.get());
  framer->PushData(Head32(104857601 - 6));
  EXPECT_EQ(seen.events, (std::vector<std::string>{"info:封包过长: 104857601", "error"}));
  EXPECT_EQ(static_cast<VmPackageDispatcher*>(framer.get())->CarryOverSize(), 0u);

  seen = FramerEvents();
  framer->PushData(Head32(104857600 - 6));
  EXPECT_EQ(seen.events, std::vector<std::string>{"info:需要等待的封包:0xffffffff,6"});
  EXPECT_EQ(static_cast<VmPackageDispatcher*>(framer.get())->CarryOverSize(), 6u);
  framer->ClearBuffer();

  // Lengths near 2^32 must not wrap round into a short frame.
  for (uint32_t length : {0xFFFFFFFFu, 0xFFFFFFFAu, 0xFFFFFFFBu, 0x80000000u}) {
    seen = FramerEvents();
    framer->PushData(Head32(length) + "abc");
    EXPECT_EQ(seen.infos, std::vector<std::string>{"封包过长: " + std::to_string(uint64_t{length} + 6)});
    EXPECT_EQ(seen.errors, 1);
    EXPECT_TRUE(seen.payloads.empty());
  }

  // The 16-bit field cannot exceed the limit: its largest frame waits for its bytes.
  auto shortFramer = MakeFramer(0);
  seen = FramerEvents();
  seen.Attach(shortFramer.get());
  shortFramer->PushData(Bytes({0xFF, 0xCC, 0xFF, 0xFF, 'a'}));
  EXPECT_EQ(seen.events, std::vector<std::string>{"info:需要等待的封包:0xffffffff,5"});
}

TEST(VmPackageDispatcher, EmptyPayloadIsDelivered) {
  auto framer = MakeFramer();
  FramerEvents seen;
  seen.Attach(framer.get());
  framer->PushData(Head32(0));
  EXPECT_EQ(seen.events, std::vector<std::string>{"pack:"});
}

TEST(VmPackageDispatcher, ClearBufferStartsAfreshAtAFrameHead) {
  auto framer = MakeFramer();
  FramerEvents seen;
  seen.Attach(framer.get());
  framer->PushData(Pack(framer.get(), "lost").substr(0, 8));
  framer->ClearBuffer();
  framer->PushData(Pack(framer.get(), "kept"));
  EXPECT_EQ(seen.payloads, std::vector<std::string>{"kept"});
  EXPECT_EQ(seen.errors, 0);
}

TEST(VmPackageDispatcher, ChecksumMismatchIsLoggedAndRaised) {
  RecordingLog log;
  auto framer = MakeFramer(1, true);
  FramerEvents seen;
  seen.Attach(framer.get());
  std::string bad = Bytes({0xFF, 0xCC, 0x07, 0, 0, 0, 'a', 'b', 'd', 0xC3, 0xEC, 0x8D, 0x8D});
  const uint32_t computed = Crc32(0, bad.data(), 9);
  // The frame before the bad one is delivered; the one after it is dropped.
  const std::string stream = Pack(framer.get(), "before") + bad + Pack(framer.get(), "after");
  try {
    framer->PushData(stream);
    FAIL() << "no error raised";
  } catch (const PackCrcError& error) {
    EXPECT_STREQ(error.what(), "Pack CRC Error");
  }
  EXPECT_EQ(seen.payloads, std::vector<std::string>{"before"});
  EXPECT_EQ(log.Texts(llError),
            std::vector<std::string>{"Pack CRC Error! curCRC = " + std::to_string(static_cast<int>(computed)) +
                                     ", packCRC = " + std::to_string(static_cast<int>(0x8D8DECC3u)) +
                                     ", pack = FF CC 07 00 00 00 61 62 64 C3 EC 8D 8D "});
  EXPECT_EQ(static_cast<VmPackageDispatcher*>(framer.get())->CarryOverSize(), 0u);

  // The framer is usable afterwards, also when the bad frame came in pieces.
  framer->PushData(Pack(framer.get(), "again"));
  framer->PushData(bad.substr(0, 5));
  EXPECT_THROW(framer->PushData(bad.substr(5)), std::runtime_error);
  framer->PushData(Pack(framer.get(), "last"));
  EXPECT_EQ(seen.payloads, (std::vector<std::string>{"before", "again", "last"}));
}

TEST(VmPackageDispatcher, ChecksummedFrameWithoutRoomForItsChecksumIsRefused) {
  RecordingLog log;
  auto framer = MakeFramer(1, true);
  FramerEvents seen;
  seen.Attach(framer.get());
  for (uint32_t length = 0; length < 4; ++length) {
    seen = FramerEvents();
    seen.Attach(framer.get());
    framer->PushData(Head32(length) + "abcd");
    EXPECT_EQ(seen.events, (std::vector<std::string>{"info:封包过短: " + std::to_string(length + 6), "error"}));
  }
  EXPECT_TRUE(log.Lines().empty());
}

TEST(VmPackageDispatcher, FilterSeesTheNewChunkAndCanDropEverything) {
  struct Filter {
    std::vector<std::string> seen;
    bool accept = true;
    static bool Call(void* user, std::string_view chunk) {
      auto* self = static_cast<Filter*>(user);
      self->seen.emplace_back(chunk);
      return self->accept;
    }
  } filter;
  auto framer = MakeFramer();
  FramerEvents seen;
  seen.Attach(framer.get());
  framer->SetFilterFunc(&Filter::Call, &filter);
  const std::string frame = Pack(framer.get(), "abc");
  framer->PushData(frame.substr(0, 4));
  filter.accept = false;
  framer->PushData(frame.substr(4));  // refused: carried-over part dropped too
  filter.accept = true;
  framer->PushData(frame);
  EXPECT_EQ(filter.seen, (std::vector<std::string>{frame.substr(0, 4), frame.substr(4), frame}));
  EXPECT_EQ(seen.payloads, std::vector<std::string>{"abc"});
}

TEST(VmPackageDispatcher, APacketCallbackMayPushIntoTheSameFramer) {
  // Frames whose payload is itself a frame: the callback unwraps them through the same
  // framer while the outer push still reads its own bytes.
  struct Nest {
    IPackageDispatcher* framer;
    std::vector<std::string> payloads;
    static void OnPack(void* user, std::string_view payload) {
      auto* self = static_cast<Nest*>(user);
      self->payloads.emplace_back(payload);
      if (payload.size() >= 6 && static_cast<unsigned char>(payload[0]) == 0xFF) self->framer->PushData(payload);
    }
  };
  auto framer = MakeFramer();
  Nest nest{framer.get(), {}};
  framer->SetPackFunc(&Nest::OnPack, &nest);
  const std::string inner = Pack(framer.get(), "in");
  const std::string stream = Pack(framer.get(), inner) + Pack(framer.get(), "out");
  framer->PushData(stream.substr(0, 5));
  framer->PushData(stream.substr(5));
  EXPECT_EQ(nest.payloads, (std::vector<std::string>{inner, "in", "out"}));
}

TEST(VemoPackKeyDictFetcher, KeysByTheLowTenBitsOfTheIndex) {
  IPackKeyDictFetcher* keys = PackKeyDictFetcher();
  const auto& table = VemoPackKeyDictFetcher::KeyTable();
  EXPECT_EQ(table[0], 0xFC50EA58u) << "the key table is shared with peers and must not change";
  EXPECT_EQ(keys->FetchKey(0, 0), table[0]);
  EXPECT_EQ(keys->FetchKey(1023, 0x12345678), 0x12345678u ^ table[1023]);
  EXPECT_EQ(keys->FetchKey(1024 + 5, 7), keys->FetchKey(5, 7));
  EXPECT_EQ(keys->FetchKey(77, keys->FetchKey(77, 0xCAFEBABE)), 0xCAFEBABEu);
}
