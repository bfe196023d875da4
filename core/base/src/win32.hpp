#pragma once

// The Win32 vocabulary of the whole tree: owners of what the system hands out (kernel handles,
// find handles, registry keys, icons, menus, GDI objects, device contexts, windows, hooks, COM pointers,
// memory the system allocates) and the casts between the tree's UTF-16 strings and the system's
// wide characters. Included by *_win32.cpp files only; the text of a system error code is
// base::os_error (os_error.hpp).

#include <windows.h>
#include <objbase.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>

// Every call here names its W function; the tree has its own `CreateWindow` (a kind of UI error).
#undef CreateWindow

namespace win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

// The 0-terminated units of `text` as the system's wide string.
inline const wchar_t* wz(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
// `length` units the system handed out, as the tree's UTF-16 string.
inline std::u16string units(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}
// The units of a 0-terminated wide string.
inline std::u16string units(const wchar_t* text) { return units(text, text == nullptr ? 0 : wcslen(text)); }
// A fixed wide-character field of a system structure, as UTF-16 units to fill.
template <std::size_t N>
std::span<char16_t, N> field(wchar_t (&chars)[N]) {
  return std::span<char16_t, N>(reinterpret_cast<char16_t*>(chars), N);
}

// Owns one value of a handle type and releases it with `Traits::close` unless it is invalid.
template <class Traits>
class Owned {
 public:
  using Value = typename Traits::Value;

  Owned() = default;
  explicit Owned(Value value) noexcept : value_(value) {}
  Owned(Owned&& other) noexcept : value_(other.release()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { reset(); }

  Value get() const noexcept { return value_; }
  bool valid() const noexcept { return Traits::valid(value_); }
  explicit operator bool() const noexcept { return valid(); }
  Value release() noexcept { return std::exchange(value_, Traits::invalid()); }
  void reset(Value value = Traits::invalid()) noexcept {
    Value old = std::exchange(value_, value);
    if (Traits::valid(old)) Traits::close(old);
  }
  // For calls that hand a new value out through a pointer: releases the old one first.
  Value* out() noexcept {
    reset();
    return &value_;
  }

 private:
  Value value_ = Traits::invalid();
};

namespace traits {

// Kernel objects: files, processes, threads, events, snapshots. Calls disagree on how they say
// "none" (null or INVALID_HANDLE_VALUE), so both count as invalid.
struct Kernel {
  using Value = HANDLE;
  static HANDLE invalid() noexcept { return nullptr; }
  static bool valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) noexcept { CloseHandle(h); }
};

struct Find {
  using Value = HANDLE;
  static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) noexcept { FindClose(h); }
};

struct RegistryKey {
  using Value = HKEY;
  static HKEY invalid() noexcept { return nullptr; }
  static bool valid(HKEY k) noexcept { return k != nullptr; }
  static void close(HKEY k) noexcept { RegCloseKey(k); }
};

struct Icon {
  using Value = HICON;
  static HICON invalid() noexcept { return nullptr; }
  static bool valid(HICON i) noexcept { return i != nullptr; }
  static void close(HICON i) noexcept { DestroyIcon(i); }
};

struct Menu {
  using Value = HMENU;
  static HMENU invalid() noexcept { return nullptr; }
  static bool valid(HMENU m) noexcept { return m != nullptr; }
  static void close(HMENU m) noexcept { DestroyMenu(m); }
};

// GDI objects: bitmaps, brushes, fonts. One selected into a device context is not freed; let the
// context go first.
struct GdiObject {
  using Value = HGDIOBJ;
  static HGDIOBJ invalid() noexcept { return nullptr; }
  static bool valid(HGDIOBJ o) noexcept { return o != nullptr; }
  static void close(HGDIOBJ o) noexcept { DeleteObject(o); }
};

// Device contexts that were created (CreateDCW, CreateCompatibleDC), not borrowed with GetDC.
struct DeviceContext {
  using Value = HDC;
  static HDC invalid() noexcept { return nullptr; }
  static bool valid(HDC dc) noexcept { return dc != nullptr; }
  static void close(HDC dc) noexcept { DeleteDC(dc); }
};

// Windows the calling thread created; destroyed on that thread only.
struct Window {
  using Value = HWND;
  static HWND invalid() noexcept { return nullptr; }
  static bool valid(HWND w) noexcept { return w != nullptr; }
  static void close(HWND w) noexcept { DestroyWindow(w); }
};

// Window classes that this program's module registered (RegisterClassExW gives their atom).
struct WindowClass {
  using Value = ATOM;
  static ATOM invalid() noexcept { return 0; }
  static bool valid(ATOM a) noexcept { return a != 0; }
  static void close(ATOM a) noexcept { UnregisterClassW(MAKEINTATOM(a), GetModuleHandleW(nullptr)); }
};

// A hook procedure set with SetWindowsHookExW.
struct Hook {
  using Value = HHOOK;
  static HHOOK invalid() noexcept { return nullptr; }
  static bool valid(HHOOK h) noexcept { return h != nullptr; }
  static void close(HHOOK h) noexcept { UnhookWindowsHookEx(h); }
};

// Text that a call allocated with LocalAlloc (FormatMessageW with FORMAT_MESSAGE_ALLOCATE_BUFFER).
struct LocalText {
  using Value = wchar_t*;
  static wchar_t* invalid() noexcept { return nullptr; }
  static bool valid(wchar_t* p) noexcept { return p != nullptr; }
  static void close(wchar_t* p) noexcept { LocalFree(p); }
};

// Text that a call allocated with the COM task allocator (known folders, shell item names).
struct CoTaskText {
  using Value = wchar_t*;
  static wchar_t* invalid() noexcept { return nullptr; }
  static bool valid(wchar_t* p) noexcept { return p != nullptr; }
  static void close(wchar_t* p) noexcept { CoTaskMemFree(p); }
};

}  // namespace traits

using Handle = Owned<traits::Kernel>;
using FindHandle = Owned<traits::Find>;
using RegKey = Owned<traits::RegistryKey>;
using IconHandle = Owned<traits::Icon>;
using MenuHandle = Owned<traits::Menu>;
using GdiObject = Owned<traits::GdiObject>;
using DeviceContext = Owned<traits::DeviceContext>;
using WindowHandle = Owned<traits::Window>;
using WindowClass = Owned<traits::WindowClass>;
using HookHandle = Owned<traits::Hook>;
using LocalText = Owned<traits::LocalText>;
using CoTaskText = Owned<traits::CoTaskText>;

// A counted reference to a COM object.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes over a reference the caller already holds.
  static ComPtr adopt(T* p) noexcept {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  ComPtr(const ComPtr& other) noexcept : p_(other.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // For calls that hand out a new reference through a T** (or void**).
  T** out() noexcept {
    reset();
    return &p_;
  }
  void** out_void() noexcept { return reinterpret_cast<void**>(out()); }

  // The object's other interface, or empty when it has none.
  template <class U>
  ComPtr<U> as() const noexcept {
    ComPtr<U> other;
    if (p_ != nullptr) p_->QueryInterface(__uuidof(U), other.out_void());
    return other;
  }

 private:
  T* p_ = nullptr;
};

// COM on the calling thread for as long as it lives, when the thread could join the apartment;
// a thread already in another mode goes on without it.
class ComApartment {
 public:
  explicit ComApartment(DWORD mode) noexcept : joined_(SUCCEEDED(CoInitializeEx(nullptr, mode))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (joined_) CoUninitialize();
  }
  bool joined() const noexcept { return joined_; }

 private:
  bool joined_;
};

}  // namespace win32
