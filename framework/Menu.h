#pragma once
// Menus built in code; items may carry a 16x16 image from an image list.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "framework/Handle.h"

namespace quillet::win {

struct MenuItem {
  int id = 0;              // 0 for a separator
  std::string caption;     // "&" marks the accelerator letter
  int image = -1;          // index in the image list, -1 for none
  bool isDefault = false;  // shown in bold
};

class Menu {
 public:
  Menu() = default;
  Menu(const Menu&) = delete;
  Menu& operator=(const Menu&) = delete;

  // A menu bar with drop-down menus, or a popup menu (one level).
  void CreateBar();
  void CreatePopup();
  // Appends a drop-down to a bar; returns its handle (owned by the bar).
  HMENU AddSubMenu(const std::string& caption, const std::vector<MenuItem>& items, HIMAGELIST images);
  void AddItems(const std::vector<MenuItem>& items, HIMAGELIST images) { Fill(menu_.get(), items, images); }
  HMENU Handle() const { return menu_.get(); }
  // A menu bar attached to a window is destroyed with it.
  HMENU ReleaseToWindow() { return menu_.release(); }

 private:
  void Fill(HMENU menu, const std::vector<MenuItem>& items, HIMAGELIST images);
  MenuHandle menu_;
  std::vector<BitmapHandle> bitmaps_;
};

// Image list made from a strip bitmap resource of 16x16 cells; `mask` is the background.
class ImageList {
 public:
  void Load(HINSTANCE module, const char* resource, COLORREF mask);
  HIMAGELIST Handle() const { return list_.get(); }
  int Count() const { return list_ ? ImageList_GetImageCount(list_.get()) : 0; }

 private:
  ImageListHandle list_;
};

}  // namespace quillet::win
