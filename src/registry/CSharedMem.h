// One named shared memory segment as the manager sees it: created when nobody holds it yet
// (and then zero-filled), opened with its current bytes otherwise. The map servers open
// the same segments by the same names.
#pragma once

#include <string>

class CSharedMem {
 public:
  // Creates or opens the segment `name` of `size` bytes and maps all of it read-write.
  // `existed` is set when the segment was there before; it is cleared when creation
  // fails and left as the caller set it on a fresh creation (callers pass it cleared).
  // Failures are written to the debugger output only; the object then stays invalid
  // with a null view.
  CSharedMem(const std::string& name, int size, bool& existed);
  // Unmaps the view and stops holding the segment; the segment ends with its last holder.
  virtual ~CSharedMem();

  CSharedMem(const CSharedMem&) = delete;
  CSharedMem& operator=(const CSharedMem&) = delete;

  void* View() const { return m_View; }
  int Size() const { return m_Size; }
  // True when both the segment and its view exist.
  bool Valid() const { return m_Valid; }
  bool HasSegment() const { return m_Handle >= 0; }
  const std::string& Name() const { return m_Name; }

 private:
  int m_Size = 0;
  bool m_Valid = false;
  void* m_View = nullptr;
  int m_Handle = -1;  // the platform's segment handle; -1 when there is none
  std::string m_Name;
};
