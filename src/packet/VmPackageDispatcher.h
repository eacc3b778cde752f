// The stream framer behind IPackageDispatcher. Packing is one call; unpacking is
// incremental, carrying an unfinished frame over to the next push. A framer has no lock
// and belongs to one owner; callbacks run on the thread that pushes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "interfaces/IPackageDispatcher.h"

class VmPackageDispatcher final : public IPackageDispatcher {
 public:
  // The magic number that opens every frame (bytes FF CC).
  static constexpr uint16_t kPackMagic = 0xCCFF;
  // Frames whose head plus length exceed this (100 MiB) are refused.
  static constexpr uint64_t kMaxPackLen = 104857600;
  // The most a 16-bit length field holds.
  static constexpr int kMaxShortLen = 0xFFFF;

  VmPackageDispatcher() = default;
  ~VmPackageDispatcher() override = default;
  VmPackageDispatcher(const VmPackageDispatcher&) = delete;
  VmPackageDispatcher& operator=(const VmPackageDispatcher&) = delete;

  void SetFilterFunc(PackFilterFunc func, void* user) override;
  void SetPackFunc(PackFunc func, void* user) override;
  void SetInfoFunc(PackInfoFunc func, void* user) override;
  void SetErrorFunc(PackErrorFunc func, void* user) override;
  void PushData(std::string_view chunk) override;
  int PackData(const char* data, int len, char* buf, int maxBuff) override;
  void ClearBuffer() override;
  int GetPackHeadLen() override;
  void SetLenMode(int mode) override;
  int GetCrcLen() override;
  void SetCrcCheck(bool check) override;
  bool GetCrcCheck() override;

  // Bytes of an unfinished frame waiting for the next push.
  std::size_t CarryOverSize() const { return m_CarryOver.size(); }

 private:
  // The getters' bodies, inline for the hot paths.
  int HeadLen() const { return m_LenMode == 1 ? 6 : 4; }
  int CrcLen() const { return m_CrcCheck ? 4 : 0; }
  // Cuts one frame from the `avail` bytes at `p`. Returns the bytes consumed, or -1 when
  // the stream is out of step (the rest is then dropped).
  int64_t CutPack(const char* p, std::size_t avail);
  void CutPacks(std::string_view work);
  void Info(const char* text);
  void Error();
  void WaitFor(const char* p, std::size_t avail);

  std::string m_CarryOver;
  int m_LenMode = 1;
  bool m_CrcCheck = false;
  PackFilterFunc m_FilterFunc = nullptr;
  void* m_FilterUser = nullptr;
  PackFunc m_PackFunc = nullptr;
  void* m_PackUser = nullptr;
  PackInfoFunc m_InfoFunc = nullptr;
  void* m_InfoUser = nullptr;
  PackErrorFunc m_ErrorFunc = nullptr;
  void* m_ErrorUser = nullptr;
  // Reused to join the carry-over with a new chunk, so a split stream costs no
  // allocation once it has reached its working size.
  std::string m_Work;
  bool m_InPush = false;
};
