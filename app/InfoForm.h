#pragma once
// The About box: product name, picture and mail link on a white panel, and the Close and
// Support oval buttons below it. Created once at start-up, shown modally by the main
// window's About command any number of times.
#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>

#include "framework/Handle.h"
#include "framework/Window.h"
#include "widgets/OvalButton.h"
#include "widgets/URLLabel.h"

namespace quillet {

// A child window that paints itself through a callback, over the background brush its
// parent answers to WM_CTLCOLORSTATIC.
class PaintedChild : public win::PaintedWindow {
 public:
  static constexpr const char* kClass = "QuilletPaintedChild";
  std::function<void(HDC dc, const RECT& client)> onPaint;
  void Create(HWND parent, const win::Bounds& b, const std::string& text);

 protected:
  void PaintWindow(HDC dc) override;
};

// A white panel with a lowered outer bevel; its children take white as their background.
class WhitePanel : public win::PaintedWindow {
 public:
  static constexpr const char* kClass = "QuilletWhitePanel";
  void Create(HWND parent, const win::Bounds& b);

 protected:
  void PaintWindow(HDC dc) override;
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
};

class TInfoForm : public win::Form {
 public:
  static constexpr const char* kPictureResource = "ABOUTPICTURE";
  static constexpr const char* kSupportHint = "Visit the Customer Care Center";
  static constexpr int kHelpContext = 7;

  // Builds the box hidden, owned by the application's main window when there is one, and
  // decodes the picture resource (an empty picture when it is missing or damaged).
  TInfoForm();

  void BitBtn3Click();
  void OvalButton1Click();

  // Replaces the picture by the JPEG in data; damaged data leaves the picture empty.
  void LoadPicture(const void* data, std::size_t size);
  // The decoded picture as a 24-bit DIB section, or null when empty.
  HBITMAP Picture() const { return picture_.get(); }
  int PictureWidth() const { return pictureWidth_; }
  int PictureHeight() const { return pictureHeight_; }
  HWND Tooltip() const { return tooltip_; }
  // The form's own font (Arial, 12 pixels); its children carry their own fonts.
  HFONT FormFont() const { return formFont_.get(); }

  // Components, in creation order.
  widgets::TOvalButton BitBtn3;
  widgets::TOvalButton OvalButton1;
  WhitePanel Panel1;
  PaintedChild Label7;
  widgets::TURLLabel URLLabel2;
  PaintedChild Image1;

 protected:
  // Typed characters go to the oval buttons as dialog characters: an "&" in a caption
  // makes its letter the button's accelerator.
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  void CreateControls();
  void CreateHints();
  void PaintPicture(HDC dc, const RECT& client) const;

  win::FontHandle formFont_, titleFont_;
  win::BitmapHandle picture_;
  int pictureWidth_ = 0;
  int pictureHeight_ = 0;
  HWND tooltip_ = nullptr;  // owned by the form's window, destroyed with it
};

}  // namespace quillet
