#pragma once
// One move-only owner for every kind of Win32 handle, and the GDI guards that put back
// what they changed.
#include <windows.h>
#include <commctrl.h>

#include <utility>

namespace quillet::win {

template <typename T, typename Traits>
class Handle {
 public:
  Handle() = default;
  explicit Handle(T h) : h_(h) {}
  ~Handle() { reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& o) noexcept : h_(o.release()) {}
  Handle& operator=(Handle&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  T get() const { return h_; }
  explicit operator bool() const { return h_ != Traits::Invalid(); }
  T release() { return std::exchange(h_, Traits::Invalid()); }
  void reset(T h = Traits::Invalid()) {
    if (h_ != Traits::Invalid()) Traits::Close(h_);
    h_ = h;
  }

 private:
  T h_ = Traits::Invalid();
};

template <typename T>
struct GdiObjTraits {
  static T Invalid() { return nullptr; }
  static void Close(T h) { DeleteObject(h); }
};
struct KeyTraits {
  static HKEY Invalid() { return nullptr; }
  static void Close(HKEY h) { RegCloseKey(h); }
};
struct DcTraits {
  static HDC Invalid() { return nullptr; }
  static void Close(HDC h) { DeleteDC(h); }
};
struct IconTraits {
  static HICON Invalid() { return nullptr; }
  static void Close(HICON h) { DestroyIcon(h); }
};
struct FileTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct MenuTraits {
  static HMENU Invalid() { return nullptr; }
  static void Close(HMENU h) { DestroyMenu(h); }
};
struct ImageListTraits {
  static HIMAGELIST Invalid() { return nullptr; }
  static void Close(HIMAGELIST h) { ImageList_Destroy(h); }
};

using KeyHandle = Handle<HKEY, KeyTraits>;
using FontHandle = Handle<HFONT, GdiObjTraits<HFONT>>;
using BrushHandle = Handle<HBRUSH, GdiObjTraits<HBRUSH>>;
using PenHandle = Handle<HPEN, GdiObjTraits<HPEN>>;
using BitmapHandle = Handle<HBITMAP, GdiObjTraits<HBITMAP>>;
using RegionHandle = Handle<HRGN, GdiObjTraits<HRGN>>;
using MemoryDcHandle = Handle<HDC, DcTraits>;
using IconHandle = Handle<HICON, IconTraits>;
using MenuHandle = Handle<HMENU, MenuTraits>;
using FileHandle = Handle<HANDLE, FileTraits>;
using ImageListHandle = Handle<HIMAGELIST, ImageListTraits>;

// A 32-bit top-down DIB section of w x h pixels; bits (optional) receives its pixels.
inline BitmapHandle CreateDib32(int w, int h, void** bits = nullptr) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* ignored = nullptr;
  return BitmapHandle(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, bits ? bits : &ignored, nullptr, 0));
}

// Selects an object into a DC and selects the previous one back on destruction.
class SelectGuard {
 public:
  SelectGuard(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
  ~SelectGuard() { SelectObject(dc_, old_); }
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// BeginPaint / EndPaint.
class PaintGuard {
 public:
  explicit PaintGuard(HWND hwnd) : hwnd_(hwnd) { dc_ = BeginPaint(hwnd, &ps_); }
  ~PaintGuard() { EndPaint(hwnd_, &ps_); }
  PaintGuard(const PaintGuard&) = delete;
  PaintGuard& operator=(const PaintGuard&) = delete;
  HDC dc() const { return dc_; }
  const PAINTSTRUCT& ps() const { return ps_; }

 private:
  HWND hwnd_;
  PAINTSTRUCT ps_{};
  HDC dc_;
};

// A window DC from GetDC, released with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  ~WindowDc() { ReleaseDC(hwnd_, dc_); }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
};

}  // namespace quillet::win
