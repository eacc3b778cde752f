#include "RequestPathFuzz.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "StatusLinkTestSupport.h"
#include "packet/MMORPGPacketPool.h"
#include "statuslink/CSSLogicProcess.h"
#include "statuslink/StatusLinkControl.h"
#include "support/RecordingLog.h"

using namespace statuslink_test;

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "request path invariant broken: %s\n", what);
  std::abort();
}

std::string Inflate(const std::string& stream) {
  std::string out(64 * 1024, '\0');
  uLongf length = static_cast<uLongf>(out.size());
  if (uncompress(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(stream.data()),
                 static_cast<uLong>(stream.size())) != Z_OK)
    return "<not one zlib stream>";
  out.resize(length);
  return out;
}

}  // namespace

struct RequestPathFuzzer::State {
  RecordingLog log;
  FakeTiravo core;
  TempDir dir;
  TestMaps maps{UniqueServer("Fuzz")};
  std::unique_ptr<StatusLinkControl> control;
  CSSLogicProcess* link = nullptr;
};

const char* RequestPathFuzzer::LogFileContent() {
  static const std::string content = [] {
    std::string text;
    for (int i = 0; i < 200; ++i) text += "[Error] map " + std::to_string(i) + " lost its heartbeat\n";
    return text;
  }();
  return content.c_str();
}

RequestPathFuzzer::RequestPathFuzzer() : m_State(std::make_unique<State>()) {
  State& s = *m_State;
  InstallCore(&s.core);
  s.log.m_LogPath = s.dir.Path();
  s.dir.Write("a.log", LogFileContent());
  s.dir.Write("e.log", "");
  mkfifo((s.dir.Path() + "f.log").c_str(), 0600);
  std::filesystem::create_directory(s.dir.Path() + "d.log");
  s.maps.Add(1, "One");
  s.maps.Add(4095, "Last");
  s.maps.Load();
  s.maps.Record(1).State = msRunning;
  StatusLinkControl::Settings settings;
  settings.Maps = &s.maps.maps;
  s.control = std::make_unique<StatusLinkControl>(settings);
  s.link = GetSSLogicProcess();
  s.link->SetServerInfo("MapServer", 6, 63);
  s.link->SetRequestHandler(&StatusLinkControl::OnStatusPack, s.control.get());
  s.link->Start(true);
}

RequestPathFuzzer::~RequestPathFuzzer() {
  m_State->link->Stop();
  m_State->link->ReleaseLink();
  InstallCore(nullptr);
}

int RequestPathFuzzer::Run(const uint8_t* data, std::size_t size) {
  State& s = *m_State;
  s.log.Clear();
  s.core.ClearSent();
  std::size_t at = 0;
  const uint8_t flags = size > 0 ? data[at++] : 0;
  tagMapServerData& record = s.maps.Record(0);
  if ((flags & 1) != 0 && size - at >= 60) {
    std::memcpy(record.LastErrorTime, data + at, 20);
    std::memcpy(record.LastFatalTime, data + at + 20, 20);
    std::memcpy(record.LastPyErrorTime, data + at + 40, 20);
    at += 60;
  }
  if ((flags & 2) != 0 && at < size) record.State = data[at++] % 8;

  std::vector<FakeTiravo::Message> messages;
  while (size - at >= 2) {
    const std::size_t declared = data[at] | (data[at + 1] << 8);
    at += 2;
    std::string head(reinterpret_cast<const char*>(data + at), std::min<std::size_t>(9, size - at));
    at += head.size();
    head.resize(9, '\0');
    const std::size_t length = std::min(declared, size - at);
    const std::string body(reinterpret_cast<const char*>(data + at), length);
    at += length;
    messages.push_back({head, body});
    s.core.Receive(head, body);
  }

  const int32_t outstanding = MMORPG::MMORPGPacket::m_Count.load();
  while (s.core.GetRecvCount() > 0) s.link->RunRequestPass(&s.core);

  // The manager answers exactly the base information requests and the GetErrorLog
  // commands, in order, each with one well-formed reply that carries the link's head.
  auto answerable = [](const std::string& body) {
    if (body.size() >= 2 && body[0] == 6 && body[1] == 1) return true;
    if (body.size() < 36 || body[0] != 3 || body[1] != 4) return false;
    return std::string(body.data() + 3, strnlen(body.data() + 3, 31)) == "GetErrorLog";
  };
  // The link's own messages (a heartbeat once a minute) are not replies.
  std::vector<FakeTiravo::Message> replies;
  for (const auto& sent : s.core.Sent())
    if (sent.body != statuswire::HeartbeatBody()) replies.push_back(sent);
  std::size_t replyIndex = 0;
  std::vector<std::string> unanswered;
  for (const auto& message : messages) {
    if (!answerable(message.body)) {
      unanswered.push_back(message.body);
      continue;
    }
    Require(replyIndex < replies.size(), "every answerable message answered");
    const auto& reply = replies[replyIndex++];
    Require(reply.head.size() == 9, "head of 9 bytes");
    Require(reply.head[7] == 13 && reply.head[8] == 13, "server types 13");
    Require(reply.head.substr(0, 4) == std::string(4, '\0') && reply.head[6] == 0, "head built from scratch");
    Require(reply.head.substr(4, 2) == message.head.substr(4, 2), "the request's echo tag");
    if (message.body[0] == 6) {
      const BaseInfo info = DecodeBaseInfo(reply.body);
      Require(info.wellFormed, "base information reply well-formed");
      Require(info.numerics.size() == 22 && info.texts.size() >= 4, "two maps reported");
    } else {
      const CommonReply common = DecodeCommonReply(reply.body);
      Require(common.wellFormed, "common command reply well-formed");
      Require(common.name == "GetErrorLog", "the request's name");
      Require(common.result.empty() || Inflate(common.result) == LogFileContent(), "only a.log is ever sent");
    }
  }
  Require(replyIndex == replies.size(), "no reply without a request");

  // What nobody answered waits for the script, unchanged and in order.
  MMORPG::MMORPGPacket_Stack packet;
  std::size_t popped = 0;
  while (s.link->PopScriptPack(&packet)) {
    Require(popped < unanswered.size(), "no more queued than unanswered");
    Require(std::string(packet.GetData(), static_cast<std::size_t>(packet.GetDataLen())) == unanswered[popped],
            "queued body unchanged");
    ++popped;
  }
  Require(popped == unanswered.size(), "every unanswered message queued");
  Require(MMORPG::MMORPGPacket::m_Count.load() == outstanding, "every packet back in the pool");
  return 0;
}
