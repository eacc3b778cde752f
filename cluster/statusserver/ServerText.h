// Small text helpers that the status server's parts share.
#pragma once

#include <asio/ip/tcp.hpp>
#include <string>
#include <utility>

#include "common/Utils.h"

namespace statusserver {

inline std::string EndpointText(const asio::ip::tcp::endpoint& endpoint) {
  return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

// The first word of `text` and the rest, trimmed.
inline std::pair<std::string, std::string> SplitWord(const std::string& text) {
  const std::string trimmed = TrimText(text);
  const auto blank = trimmed.find_first_of(" \t");
  if (blank == std::string::npos) return {trimmed, ""};
  return {trimmed.substr(0, blank), TrimText(trimmed.substr(blank))};
}

// A whole number within [low, high].
inline bool ParseNumber(const std::string& text, long long low, long long high, long long& value) {
  long long parsed = 0;
  if (!TextToInt64(text, parsed) || parsed < low || parsed > high) return false;
  value = parsed;
  return true;
}

}  // namespace statusserver
