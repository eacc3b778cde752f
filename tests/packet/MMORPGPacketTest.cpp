#include "interfaces/MMORPGPacket.h"

#include <gtest/gtest.h>

#include <cstring>

#include "FramerTestHelpers.h"
#include "support/RecordingLog.h"

using MMORPG::MMORPGPacket;
using MMORPG::tagPackHead;

namespace {

const std::string kDestWarning =
    "MMORPGPacket::GetSendData  m_PackHead.DestServerType <= stMin || m_PackHead.DestServerType >= stMax  , "
    "packType=7";
const std::string kSrcWarning =
    "MMORPGPacket::GetSendData  m_PackHead.SrcServerType <= stMin || m_PackHead.SrcServerType >= stMax  , "
    "packType=7";

void SetTypes(MMORPGPacket& packet, uint8_t dest, uint8_t src) {
  packet.m_PackHead.DestServerType = dest;
  packet.m_PackHead.SrcServerType = src;
}

}  // namespace

TEST(MMORPGPacket, ResetKeepsTheHeadAndAttributeC) {
  MMORPGPacket packet;
  ASSERT_NE(packet.GetData(), nullptr);
  EXPECT_EQ(packet.m_AttrC, 1u);
  packet.m_PackHead.EchoTag = 42;
  packet.ReadData("xyz", 3);
  packet.m_AttrA = packet.m_AttrC = packet.m_AttrD = packet.m_AttrE = 5;
  packet.m_AttrB = packet.m_IsRaw = packet.m_InUse = 1;
  packet.Reset();
  EXPECT_EQ(packet.GetDataLen(), 0);
  EXPECT_EQ(packet.m_AttrA + packet.m_AttrB + packet.m_IsRaw + packet.m_AttrD + packet.m_AttrE + packet.m_InUse, 0u);
  EXPECT_EQ(packet.m_AttrC, 5u);
  EXPECT_EQ(packet.m_PackHead.EchoTag, 42);
}

TEST(MMORPGPacket, ReadData) {
  RecordingLog log;
  MMORPGPacket packet;
  EXPECT_EQ(packet.ReadData("a\0b", 3), 3);
  EXPECT_EQ(std::string(packet.GetData(), 3), std::string("a\0b", 3));
  EXPECT_EQ(packet.ReadData("zz", -2), -2);
  EXPECT_EQ(packet.GetDataLen(), 3) << "a negative length leaves the data";
  EXPECT_EQ(log.Texts(llError), std::vector<std::string>{"MMORPGPacket::ReadData(char *lpData, int Len), Len = -2"});
  EXPECT_EQ(packet.ReadData(nullptr, 5), 0);
  EXPECT_EQ(packet.GetDataLen(), 3) << "no bytes to read leaves the data";
  EXPECT_EQ(packet.ReadData(nullptr, 0), 0);
  EXPECT_EQ(packet.GetDataLen(), 0);
}

TEST(MMORPGPacket, SetHeadWarnsWhenTheLengthIsNotNine) {
  RecordingLog log;
  MMORPGPacket packet;
  const std::string bytes = Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  EXPECT_EQ(packet.SetHead(bytes.data(), 0), 9);
  EXPECT_EQ(packet.SetHead(bytes.data(), 9), 9);
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_EQ(packet.SetHead(bytes.data(), 12), 9);
  EXPECT_EQ(log.Texts(llWarn),
            std::vector<std::string>{"Error in tagPackHead : 01 02 03 04 05 06 07 08 09 0A 0B 0C  "});
  EXPECT_EQ(packet.m_PackHead.HeadTag, 0x04030201u);
  EXPECT_EQ(packet.m_PackHead.EchoTag, 0x0605);
  EXPECT_EQ(packet.m_PackHead.PackType, 7);
  EXPECT_EQ(packet.m_PackHead.DestServerType, 8);
  EXPECT_EQ(packet.m_PackHead.SrcServerType, 9);
}

TEST(MMORPGPacket, GetSendDataFramesHeadAndData) {
  RecordingLog log;
  MMORPGPacket packet;
  SetTypes(packet, 13, 13);
  packet.ReadData("\x01\x04\xB3", 3);
  EXPECT_EQ(packet.GetSendData(),
            Bytes({0xFF, 0xCC, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0D, 0x0D, 0x01, 0x04, 0xB3}));
  packet.ReadData(nullptr, 0);
  EXPECT_EQ(packet.GetSendData(), Bytes({0xFF, 0xCC, 0x09, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0D, 0x0D}));
  EXPECT_TRUE(log.Lines().empty());

  // The framer's settings apply, so a checksummed wire form comes out whole.
  packet.Dispatcher()->SetCrcCheck(true);
  const std::string framed = packet.GetSendData();
  EXPECT_EQ(framed.size(), 19u);
  FramerEvents seen;
  seen.Attach(packet.Dispatcher());
  packet.Dispatcher()->PushData(framed);
  EXPECT_EQ(seen.payloads, std::vector<std::string>{framed.substr(6, 9)});
}

TEST(MMORPGPacket, GetSendDataWarnsAboutServerTypesOutOfRange) {
  RecordingLog log;
  MMORPGPacket packet;
  packet.m_PackHead.PackType = 7;
  const std::string good = (SetTypes(packet, 13, 13), packet.GetSendData());
  for (uint8_t type : {0, 14, 200}) {
    log.Clear();
    SetTypes(packet, type, 13);
    EXPECT_EQ(packet.GetSendData().size(), good.size()) << "framed all the same";
    EXPECT_EQ(log.Texts(llWarn), std::vector<std::string>{kDestWarning});
    log.Clear();
    SetTypes(packet, 13, type);
    packet.GetSendData();
    EXPECT_EQ(log.Texts(llWarn), std::vector<std::string>{kSrcWarning});
  }
  log.Clear();
  for (uint8_t type : {1, 13}) {
    SetTypes(packet, type, type);
    packet.GetSendData();
  }
  EXPECT_TRUE(log.Lines().empty());
  SetTypes(packet, 0, 0);
  packet.GetSendData();
  EXPECT_EQ(log.Texts(llWarn), (std::vector<std::string>{kDestWarning, kSrcWarning}));
}

TEST(MMORPGPacket, RawPacketFramesItsDataAlone) {
  RecordingLog log;
  MMORPGPacket packet;
  SetTypes(packet, 0, 99);
  packet.m_IsRaw = 1;
  packet.ReadData("abc", 3);
  EXPECT_EQ(packet.GetSendData(), Bytes({0xFF, 0xCC, 0x03, 0, 0, 0, 'a', 'b', 'c'}));
  EXPECT_TRUE(log.Lines().empty());
}

TEST(MMORPGPacket, CopyCarriesEverythingButTheInUseFlag) {
  MMORPGPacket src;
  src.SetHead("\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9);
  src.ReadData("body", 4);
  src.m_AttrA = 11;
  src.m_AttrB = 12;
  src.m_IsRaw = 1;
  src.m_AttrC = 13;
  src.m_AttrD = 14;
  src.m_AttrE = 15;
  src.m_InUse = 1;

  MMORPGPacket dst;
  MMORPGPacket::Copy(&dst, &src);
  EXPECT_EQ(std::memcmp(&dst.m_PackHead, &src.m_PackHead, sizeof(tagPackHead)), 0);
  EXPECT_EQ(std::string(dst.GetData(), dst.GetDataLen()), "body");
  EXPECT_EQ(dst.m_AttrA, 11u);
  EXPECT_EQ(dst.m_AttrB, 12);
  EXPECT_EQ(dst.m_IsRaw, 1);
  EXPECT_EQ(dst.m_AttrC, 13u);
  EXPECT_EQ(dst.m_AttrD, 14u);
  EXPECT_EQ(dst.m_AttrE, 15u);
  EXPECT_EQ(dst.m_InUse, 0) << "the in-use flag stays the destination's";

  dst.m_InUse = 1;
  src.ReadData(nullptr, 0);
  MMORPGPacket::Copy(&dst, &src);
  EXPECT_EQ(dst.m_InUse, 1);
  EXPECT_EQ(dst.GetDataLen(), 0) << "empty data is copied too";

  dst.ReadData("x", 1);
  MMORPGPacket::Copy(&dst, nullptr);
  EXPECT_EQ(dst.m_InUse, 0) << "copy from null resets, in-use flag included";
  EXPECT_EQ(dst.GetDataLen(), 0);
  EXPECT_EQ(dst.m_PackHead.PackType, 7) << "a reset leaves the head";
  MMORPGPacket::Copy(nullptr, &src);  // ignored

  // A packet copied onto itself keeps its head and data.
  src.ReadData("self", 4);
  MMORPGPacket::Copy(&src, &src);
  EXPECT_EQ(src.m_PackHead.HeadTag, 0x04030201u);
  EXPECT_EQ(src.m_PackHead.SrcServerType, 9);
  EXPECT_EQ(std::string(src.GetData(), src.GetDataLen()), "self");
}
