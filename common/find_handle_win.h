// A find handle of FindFirstFile, closed when it leaves scope.
#pragma once

#include <windows.h>

namespace talvex {

class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : h_(h) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (valid()) ::FindClose(h_);
  }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

}  // namespace talvex
