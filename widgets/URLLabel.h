#pragma once
// A text label that acts as a link: underlined caption, blue while the pointer is over it
// (black after it left), the link cursor, and on a left click the caption, completed with
// the scheme of its URLType (see URLTarget.h), handed to the shell to open.
//
// The label is a child window of its own class. When not Transparent it fills its area
// with the brush its parent answers to WM_CTLCOLORSTATIC (the parent's colour); when
// Transparent it has the parent paint underneath. Hover and leave come from
// TrackMouseEvent. The shell call goes through win::Application::Shell, so an
// application object must exist before the label is clicked.
#include <windows.h>

#include <functional>
#include <string>

#include "framework/Handle.h"
#include "framework/Window.h"
#include "widgets/ColorModel.h"
#include "widgets/OvalButton.h"
#include "widgets/URLTarget.h"

namespace quillet::widgets {

inline constexpr char kURLLabelClass[] = "QuilletURLLabel";

// The cursor table of the application: numbered cursors shared by all windows. Loaded
// cursors are shared resources and are never destroyed.
inline constexpr int crURLCursor = 512;
HCURSOR ScreenCursor(int index);  // null when nothing is stored under index
void SetScreenCursor(int index, HCURSOR cursor);

inline constexpr ScreenColor clBlue = 0xFF0000;
inline constexpr char kURLCursorResource[] = "URLCURSOR_1";

class TURLLabel : public win::PaintedWindow {
 public:
  using TNotifyEvent = std::function<void(TURLLabel& sender)>;

  // Caption: the default address; font: the framework's default font, underlined;
  // loads "URLCURSOR_1" from the program's module into the cursor table under
  // crURLCursor (replacing what was there) and takes that number as its cursor.
  TURLLabel();
  ~TURLLabel();  // destroys the window if it still exists
  TURLLabel(const TURLLabel&) = delete;
  TURLLabel& operator=(const TURLLabel&) = delete;

  // Creates the window. The window keeps a pointer to this object, which must outlive it
  // or be destroyed first. With AutoSize the size follows the caption. False on failure.
  bool Create(HWND parent, int left, int top, int width, int height);

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  TURLType URLType() const { return urlType_; }
  void SetURLType(TURLType value) { urlType_ = value; }
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  // The number in the cursor table shown over the label.
  int Cursor() const { return cursor_; }
  void SetCursor(int index) { cursor_ = index; }
  const TFont& Font() const { return font_; }

  // The framework's click event, fired before the link is opened.
  TNotifyEvent OnClick;

  // What a left click does: OnClick, then the shell opens LinkTarget(Caption, URLType)
  // with verb "open", the desktop window as owner, no parameters, no directory, shown
  // normally. The shell's result is not looked at.
  void Click();
  void MouseEnter();
  void MouseLeave();

  // Background, then the caption, into dc at (0, 0).
  void PaintWindow(HDC dc) override;

 private:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  void SetFontColor(ScreenColor color);
  void FitToCaption();
  void Repaint();

  std::string caption_;
  TURLType urlType_ = utHTTP;
  bool autoSize_ = true;
  bool transparent_ = false;
  bool enabled_ = true;
  int cursor_ = crURLCursor;
  TFont font_;
  win::FontHandle hfont_;
  bool clickPending_ = false;
  bool tracking_ = false;
};

}  // namespace quillet::widgets
