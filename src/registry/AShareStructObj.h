// A shared segment sized for one record of type T, handing out the record in place.
#pragma once

#include <memory>
#include <string>

#include "registry/CSharedMem.h"

template <typename T>
class AShareStructObj {
 public:
  // Creates or opens the segment `name` with the size of T; whether it existed is not kept.
  explicit AShareStructObj(const std::string& name) {
    bool existed = false;
    m_SharedMem = std::make_unique<CSharedMem>(name, static_cast<int>(sizeof(T)), existed);
  }

  AShareStructObj(const AShareStructObj&) = delete;
  AShareStructObj& operator=(const AShareStructObj&) = delete;

  // The record, or null when the segment or its view is missing.
  T* GetData() const {
    if (!m_SharedMem || !m_SharedMem->HasSegment() || m_SharedMem->View() == nullptr) return nullptr;
    return static_cast<T*>(m_SharedMem->View());
  }
  const CSharedMem& SharedMem() const { return *m_SharedMem; }

 private:
  std::unique_ptr<CSharedMem> m_SharedMem;
};
