#pragma once
// The spin edit: a one-line integer field with a pair of small up and down buttons at its
// right edge that repeat while held.
//
// TSpinEdit is an edit control (multi-line, so that its formatting rectangle can keep the
// text clear of the buttons) whose messages pass through the framework's control subclass.
// TSpinButton is a child window of the field's; its two TTimerSpeedButton halves are
// drawn and hit-tested by it and have no windows of their own. All of it runs on the
// window thread; the repeat timer is a window timer of the pair.
#include <windows.h>

#include <cstdint>
#include <functional>

#include "framework/Controls.h"
#include "framework/Handle.h"
#include "framework/Window.h"
#include "widgets/SpinLogic.h"

namespace quillet::widgets {

// Resource names of the arrow glyphs (bitmaps in the program's resources).
inline constexpr char kSpinUpGlyph[] = "SpinUp";
inline constexpr char kSpinDownGlyph[] = "SpinDown";

// A push-button drawn inside its owner window. A press steps once at once, again after
// 400 ms, then every 100 ms while the button is shown down and the owner holds the mouse
// capture for it.
class TTimerSpeedButton {
 public:
  static constexpr UINT kFirstDelay = 400;
  static constexpr UINT kRepeatDelay = 100;

  TTimerSpeedButton() = default;
  ~TTimerSpeedButton() { StopTimer(); }
  TTimerSpeedButton(const TTimerSpeedButton&) = delete;
  TTimerSpeedButton& operator=(const TTimerSpeedButton&) = delete;

  // The owner window (which gets the timer's WM_TIMER with this id) and the glyph (not owned).
  void Attach(HWND owner, UINT_PTR timerId, HBITMAP glyph);
  UINT_PTR TimerId() const { return timerId_; }

  const Placement& Bounds() const { return bounds_; }
  void SetBounds(const Placement& b) { bounds_ = b; }
  bool Contains(int x, int y) const;

  // Shown pressed.
  bool Down() const { return down_; }
  void SetDown(bool down);

  bool timerAllowed = true;
  bool drawFocusRect = false;
  std::function<void()> onClick;
  // Runs at a left press before the first step (the owner's focus handling).
  std::function<void()> onMouseDown;

  void Click() {
    if (onClick) onClick();
  }
  void MouseDown();
  void MouseUp();
  // The repeat timer expired; captured: the owner holds the mouse capture for this button.
  // An exception of the step stops the timer and is passed on.
  void TimerExpired(bool captured);
  bool TimerRunning() const { return timerRunning_; }

  void Paint(HDC dc) const;

 private:
  void StartTimer(UINT interval);
  void StopTimer();

  HWND owner_ = nullptr;
  UINT_PTR timerId_ = 0;
  HBITMAP glyph_ = nullptr;
  Placement bounds_;
  bool down_ = false;
  bool timerRunning_ = false;
};

// The pair of buttons. Owns its glyphs, loaded from the module's "SpinUp" and "SpinDown"
// bitmaps (drawn without a glyph when the module has none); the up button is the focused
// one at first.
class TSpinButton : public win::Window {
 public:
  static constexpr const char* kClass = "QuilletSpinButton";

  TSpinButton() = default;
  // Creates the child window (15 x 17 unless told otherwise) and loads the glyphs.
  void Create(HWND parent, int left, int top, int width = kSpinButtonInitialWidth,
              int height = kSpinButtonInitialHeight, DWORD style = 0);
  // The width never goes below 15; the halves follow every size change.
  void SetBounds(const Placement& b);
  Placement BoundsInParent() const;

  TTimerSpeedButton& UpButton() { return up_; }
  TTimerSpeedButton& DownButton() { return down_; }
  TTimerSpeedButton* FocusedButton() const { return focused_; }
  void SetFocusedButton(TTimerSpeedButton& button);

  // Gets the keyboard focus when a button is pressed (if it can take it).
  HWND focusControl = nullptr;
  std::function<void()> onUpClick;
  std::function<void()> onDownClick;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  void LayoutHalves();
  void UpdateFocusMarks(bool hasFocus);
  void PressAt(int x, int y);
  void TrackTo(int x, int y);
  void Release();
  void FocusOnPress();
  void PaintAll(HDC dc);

  TTimerSpeedButton up_;
  TTimerSpeedButton down_;
  TTimerSpeedButton* focused_ = &up_;
  TTimerSpeedButton* pressed_ = nullptr;  // the button holding the capture
  win::BitmapHandle upGlyph_, downGlyph_;
};

// Bounds: MinValue = MaxValue means none. Value reads the text (text that is no decimal
// integer reads as MinValue, unbounded) and writes it bounded. Typing is filtered to
// digits, signs, the locale's decimal separator and control characters. With EditorEnabled
// false only the buttons and the arrow keys change the text; with ReadOnly they beep instead.
class TSpinEdit : public win::Edit {
 public:
  TSpinEdit() = default;
  ~TSpinEdit() override;

  // Creates the field with its text "0", the button pair at its right edge, and raises the
  // height to the minimum for its font.
  void Create(HWND parent, const win::Bounds& b);

  int32_t MinValue = 0;
  int32_t MaxValue = 0;
  int32_t Increment = 1;
  bool EditorEnabled = true;
  bool AutoSelect = true;
  TSpinButton Button;

  // The platform's default beep; tests may count instead.
  std::function<void()> beep = [] { MessageBeep(0); };

  int32_t Value() const;
  void SetValue(int32_t v);
  int32_t CheckValue(int32_t v) const { return Range().Bound(v); }
  // Puts the bounded value into the text when it differs (what leaving the field does).
  void BoundText();

  // Maximum number of characters typed; 0: no limit.
  int MaxLength() const { return maxLength_; }
  void SetMaxLength(int length);
  bool ReadOnly() const;
  void SetReadOnly(bool readOnly);

  void UpClick();
  void DownClick();

  int MinHeight() const;

 protected:
  LRESULT ControlMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  SpinRange Range() const { return {MinValue, MaxValue}; }
  bool Editable() const { return EditorEnabled && !ReadOnly(); }
  void Layout();

  int maxLength_ = 0;
  bool leftButtonDown_ = false;
};

}  // namespace quillet::widgets
