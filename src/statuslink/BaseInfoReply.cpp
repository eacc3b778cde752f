#include "statuslink/BaseInfoReply.h"

#include "interfaces/StatusWire.h"

using namespace statuswire;

void BaseInfoReply::AddNumeric(uint32_t key, uint64_t value) {
  if (m_NumericCount >= kMaxItems) {
    ++m_Dropped;
    return;
  }
  PutU32(m_Numerics, key);
  PutU64(m_Numerics, value);
  ++m_NumericCount;
}

void BaseInfoReply::AddText(uint32_t key, const std::string& text) {
  if (m_TextCount >= kMaxItems) {
    ++m_Dropped;
    return;
  }
  const std::size_t length = text.size() < 0xFFFF ? text.size() : 0xFFFF;
  PutU32(m_Texts, key);
  PutU16(m_Texts, static_cast<uint16_t>(length));
  m_Texts.append(text, 0, length);
  ++m_TextCount;
}

std::string BaseInfoReply::Body() const {
  std::string body;
  body.reserve(7 + m_Numerics.size() + m_Texts.size());
  PutU8(body, kClassBaseInfoReply);
  PutU8(body, kSubBaseInfoReply);
  PutU8(body, 0);
  PutU16(body, static_cast<uint16_t>(m_NumericCount));
  body += m_Numerics;
  PutU16(body, static_cast<uint16_t>(m_TextCount));
  body += m_Texts;
  return body;
}

void BaseInfoReply::Clear() {
  m_Numerics.clear();
  m_Texts.clear();
  m_NumericCount = m_TextCount = m_Dropped = 0;
}
