#pragma once

// Small Win32 helpers shared by the real services. Included by *_win32.cpp files only.

#include <windows.h>

#include <cstdint>
#include <string>

#include "dcs/install/src/machine.hpp"

namespace machine::win32 {

inline const wchar_t* wz(const std::u16string& units) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  return reinterpret_cast<const wchar_t*>(units.c_str());
}

inline std::u16string from_wide(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

// The IoError of a Windows error code, with the system's message.
IoError error_of(DWORD code);
inline IoError last_error() { return error_of(GetLastError()); }

// Owns a kernel handle.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(Handle&& other) noexcept : h_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = other.release();
    }
    return *this;
  }
  ~Handle() { reset(); }
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  void reset() {
    if (valid()) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace machine::win32
