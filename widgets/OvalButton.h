#pragma once
// A push-button drawn as an ellipse filling its bounds, with a two-shade bevel, an optional
// glyph strip and a one-line caption. Only points inside the ellipse count as hits.
//
// The control is a child window of its own class. It paints its parent's background under
// itself first, so the corners outside the ellipse (and the face, when Transparent) show
// the parent. Hover and leave come from TrackMouseEvent.
//
// Keyboard accelerators arrive through the dialog-character route: the form that holds the
// buttons (the About box), on WM_CHAR or WM_SYSCHAR, calls DispatchDialogChar, which offers
// the character to each oval button child in turn (message kDialogCharMessage, answered 1
// when it was the button's accelerator). The button never takes the focus itself.
#include <windows.h>

#include <functional>
#include <string>

#include "framework/Handle.h"
#include "framework/Window.h"
#include "widgets/ColorModel.h"
#include "widgets/OvalGeometry.h"

namespace quillet::widgets {

inline constexpr char kOvalButtonClass[] = "QuilletOvalButton";

// Private to the oval button class: wParam is the character; the result is 1 when handled.
inline constexpr UINT kDialogCharMessage = WM_USER + 0x0D1;

// Offers ch to every oval button among parent's descendants until one handles it.
bool DispatchDialogChar(HWND parent, char ch);

enum TMouseButton { mbLeft, mbRight, mbMiddle };

using TShiftState = unsigned;
inline constexpr TShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64;

using TBevelWidth = unsigned char;  // 0 (no bevel) or 1..10; larger values are cut to 10
using TNumGlyphs = unsigned char;   // 0..4; larger values are cut to 4

// The caption's font: the attributes of a GDI font plus its text colour.
struct TFont {
  LOGFONTA log{};
  ScreenColor color = clWindowText;
  bool operator==(const TFont& o) const;
};

// The default caption font: MS Sans Serif, 8 points (height -11), window text colour.
TFont DefaultFont();

class TOvalButton : public win::PaintedWindow {
 public:
  using TNotifyEvent = std::function<void(TOvalButton& sender)>;
  using TMouseEvent = std::function<void(TOvalButton& sender, TMouseButton button, TShiftState shift, int x, int y)>;
  using TMouseMoveEvent = std::function<void(TOvalButton& sender, TShiftState shift, int x, int y)>;

  TOvalButton();
  ~TOvalButton();  // destroys the window if it still exists
  TOvalButton(const TOvalButton&) = delete;
  TOvalButton& operator=(const TOvalButton&) = delete;

  // Creates the window (registering the class if needed). The window keeps a pointer to
  // this object, which must therefore outlive it or be destroyed first. False on failure.
  bool Create(HWND parent, int left, int top, int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetBounds(int left, int top, int width, int height);

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  // Cursor shown over the control; null for the arrow. Not owned.
  void SetCursor(HCURSOR cursor) { cursor_ = cursor; }

  TBevelWidth BevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(TBevelWidth value);
  ScreenColor Color() const { return color_; }
  void SetColor(ScreenColor value);
  ScreenColor LightColor() const { return lightColor_; }
  ScreenColor DarkColor() const { return darkColor_; }
  bool Down() const { return down_; }
  void SetDown(bool value);
  bool WasDown() const { return wasDown_; }
  bool Flat() const { return flat_; }
  void SetFlat(bool value);
  const TFont& Font() const { return font_; }
  void SetFont(const TFont& value);
  // The owned glyph strip; valid while the button lives.
  HBITMAP Glyph() const { return glyph_.get(); }
  int GlyphWidth() const { return glyphWidth_; }
  int GlyphHeight() const { return glyphHeight_; }
  // Copies the bitmap; its bottom-left pixel becomes the TransparentColor.
  void SetGlyph(HBITMAP bitmap);
  int GroupIndex() const { return groupIndex_; }
  void SetGroupIndex(int value) { groupIndex_ = value; }
  TButtonLayout Layout() const { return layout_; }
  void SetLayout(TButtonLayout value);
  int Margin() const { return margin_; }
  void SetMargin(int value);
  TNumGlyphs NumGlyphs() const { return numGlyphs_; }
  void SetNumGlyphs(TNumGlyphs value);
  int Spacing() const { return spacing_; }
  void SetSpacing(int value);
  int BevelState() const { return bevelState_; }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  ScreenColor TransparentColor() const { return transparentColor_; }
  void SetTransparentColor(ScreenColor value);
  bool MousePressed() const { return mousePressed_; }
  bool MouseInside() const { return mouseInside_; }

  // Events run inside the window procedure; they must not destroy this button.
  TNotifyEvent OnClick, OnDblClick, OnMouseEnter, OnMouseExit;
  TMouseEvent OnMouseDown, OnMouseUp;
  TMouseMoveEvent OnMouseMove;

  bool IsInOval(int x, int y) const;
  // Full paint of the control (not of the parent's background) into dc at (0, 0).
  void Paint(HDC dc);
  // Bevel, glyph and caption, drawn over what is there.
  void DrawFace(HDC dc);
  // The bevel arcs only.
  void DrawBevel(HDC dc);
  // Fire OnClick / OnDblClick when enabled and the pointer is inside the oval.
  void Click();
  void DblClick();

 private:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

  void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
  void MouseMove(TShiftState shift, int x, int y);
  void MouseEnter();
  void MouseLeave();
  bool DialogChar(char ch);

  void OnButtonDown(TMouseButton button, WPARAM wp, LPARAM lp, TShiftState extra);
  void OnButtonUp(TMouseButton button, WPARAM wp, LPARAM lp);
  void PaintWindow(HDC dc) override;
  void Repaint();
  void DrawFaceNow();
  void DrawBevelNow();

  int width_ = 100;
  int height_ = 50;
  std::string caption_;
  bool enabled_ = true;
  HCURSOR cursor_ = nullptr;
  bool clickPending_ = false;  // left press seen; the release over the control clicks
  bool tracking_ = false;      // leave tracking requested

  TBevelWidth bevelWidth_ = 0;
  ScreenColor color_ = clBtnFace;
  ScreenColor lightColor_ = 0;
  ScreenColor darkColor_ = 0;
  bool down_ = false;
  bool wasDown_ = false;
  bool flat_ = false;
  TFont font_;
  win::FontHandle hfont_;
  win::BitmapHandle glyph_;
  int glyphWidth_ = 0;
  int glyphHeight_ = 0;
  int groupIndex_ = 0;
  TButtonLayout layout_ = blGlyphBottom;
  int margin_ = 0;
  TNumGlyphs numGlyphs_ = 0;
  int spacing_ = 4;
  int bevelState_ = 1;
  bool transparent_ = false;
  ScreenColor transparentColor_ = clBlack;
  bool mousePressed_ = false;
  bool mouseInside_ = false;
};

}  // namespace quillet::widgets
