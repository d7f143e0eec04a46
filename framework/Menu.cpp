#include "framework/Menu.h"

namespace quillet::win {

void Menu::CreateBar() { menu_.reset(CreateMenu()); }
void Menu::CreatePopup() { menu_.reset(CreatePopupMenu()); }

HMENU Menu::AddSubMenu(const std::string& caption, const std::vector<MenuItem>& items, HIMAGELIST images) {
  HMENU sub = CreatePopupMenu();
  Fill(sub, items, images);
  AppendMenuA(menu_.get(), MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(sub), caption.c_str());
  return sub;
}

void Menu::Fill(HMENU menu, const std::vector<MenuItem>& items, HIMAGELIST images) {
  for (const MenuItem& item : items) {
    if (item.id == 0) {
      AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(item.id), item.caption.c_str());
    if (item.isDefault) SetMenuDefaultItem(menu, static_cast<UINT>(item.id), FALSE);
    if (item.image < 0 || !images) continue;
    // The image drawn onto the menu's own background colour.
    WindowDc screen(nullptr);
    BitmapHandle bitmap(CreateCompatibleBitmap(screen.get(), 16, 16));
    {
      MemoryDcHandle dc(CreateCompatibleDC(screen.get()));
      SelectGuard select(dc.get(), bitmap.get());
      RECT r{0, 0, 16, 16};
      FillRect(dc.get(), &r, GetSysColorBrush(COLOR_MENU));
      ImageList_Draw(images, item.image, dc.get(), 0, 0, ILD_TRANSPARENT);
    }
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_BITMAP;
    info.hbmpItem = bitmap.get();
    SetMenuItemInfoA(menu, static_cast<UINT>(item.id), FALSE, &info);
    bitmaps_.push_back(std::move(bitmap));
  }
}

void ImageList::Load(HINSTANCE module, const char* resource, COLORREF mask) {
  HBITMAP strip = static_cast<HBITMAP>(LoadImageA(module, resource, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!strip) return;
  BitmapHandle owned(strip);
  BITMAP info{};
  GetObjectA(strip, sizeof info, &info);
  list_.reset(ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, info.bmWidth / 16, 0));
  if (list_) ImageList_AddMasked(list_.get(), strip, mask);
}

}  // namespace quillet::win
