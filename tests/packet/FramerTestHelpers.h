// A framer wired to recording callbacks, for the framing tests.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "interfaces/IPackageDispatcher.h"
#include "support/Bytes.h"

// Everything a framer reported, in order: "pack:<payload>", "info:<text>", "error".
struct FramerEvents {
  std::vector<std::string> events;
  std::vector<std::string> payloads;
  std::vector<std::string> infos;
  int errors = 0;

  static void OnPack(void* user, std::string_view payload) {
    auto* self = static_cast<FramerEvents*>(user);
    self->payloads.emplace_back(payload);
    self->events.push_back("pack:" + std::string(payload));
  }
  static void OnInfo(void* user, const char* text) {
    auto* self = static_cast<FramerEvents*>(user);
    self->infos.emplace_back(text);
    self->events.push_back("info:" + std::string(text));
  }
  static void OnError(void* user) {
    auto* self = static_cast<FramerEvents*>(user);
    ++self->errors;
    self->events.push_back("error");
  }

  void Attach(IPackageDispatcher* framer) {
    framer->SetPackFunc(&OnPack, this);
    framer->SetInfoFunc(&OnInfo, this);
    framer->SetErrorFunc(&OnError, this);
  }
};
