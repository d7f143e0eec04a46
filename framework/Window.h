#pragma once
// Windows and controls. A Window owns its HWND; a Control is a standard child window that
// its object subclasses (SetWindowSubclass, the object as reference data), so that every
// message passes the object first and the form can hand WM_COMMAND, WM_NOTIFY and
// WM_DRAWITEM back to it. Events are std::function members. No exception leaves a window
// procedure: a failure is reported through the application object.
//
// Lifetime: a Control removes its subclass in its destructor and a Window destroys its
// window in its destructor, so no message ever reaches a destroyed object, whatever the
// order in which a form's members go.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "framework/Handle.h"

namespace quillet::win {

struct Bounds {
  int left = 0, top = 0, width = 0, height = 0;
};

// The program's standard UI font: "MS Sans Serif", 11 pixels.
HFONT DefaultFont();
FontHandle MakeFont(const char* face, int height, bool bold = false, bool underline = false,
                    BYTE charset = DEFAULT_CHARSET);

class Control {
 public:
  Control() = default;
  // Detaches from the window, which lives on with its class's own procedure until its
  // parent goes.
  virtual ~Control() { Detach(); }
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  HWND Handle() const { return hwnd_; }
  std::string Text() const;
  void SetText(const std::string& text);
  bool Enabled() const { return IsWindowEnabled(hwnd_) != FALSE; }
  void SetEnabled(bool enabled) { EnableWindow(hwnd_, enabled); }
  void SetFocus() { ::SetFocus(hwnd_); }
  void SetBounds(const Bounds& b) { MoveWindow(hwnd_, b.left, b.top, b.width, b.height, TRUE); }
  void SetVisible(bool visible) { ShowWindow(hwnd_, visible ? SW_SHOW : SW_HIDE); }

  // Shown over the control when set (the form answers WM_SETCURSOR with it).
  HCURSOR cursor = nullptr;

  // Called by the owning form; return true when handled.
  virtual bool OnCommand(int /*code*/) { return false; }
  virtual bool OnNotify(NMHDR* /*header*/, LRESULT& /*result*/) { return false; }
  virtual bool OnDrawItem(DRAWITEMSTRUCT* /*item*/) { return false; }

  // The control whose handle this is, or null for foreign windows.
  static Control* FromHandle(HWND hwnd);

 protected:
  // Creates the child window and attaches this object to it.
  void CreateChild(HWND parent, const char* className, const std::string& text, DWORD style, DWORD exStyle,
                   const Bounds& b, HFONT font = DefaultFont());
  // Every message of the window while the object is attached; the default passes it on.
  virtual LRESULT ControlMessage(UINT msg, WPARAM wp, LPARAM lp) { return DefSubclassProc(hwnd_, msg, wp, lp); }
  // Removes the subclass. A derived class whose members may still send the window messages
  // while they are destroyed calls it first in its destructor.
  void Detach();
  HWND hwnd_ = nullptr;

 private:
  static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
};

// A window of a class of ours: WM_NCCREATE takes `this` from lpCreateParams, stores it in
// GWLP_USERDATA and forwards every message to HandleMessage.
class Window {
 public:
  Window() = default;
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  HWND Handle() const { return hwnd_; }

  // Registers (once) a window class of ours with this procedure.
  static void RegisterClassOnce(const char* name, HBRUSH background, UINT style = CS_DBLCLKS);

 protected:
  void CreateWindowOf(const char* className, const std::string& text, DWORD style, DWORD exStyle, int x, int y,
                      int width, int height, HWND parent, HMENU menu = nullptr);
  virtual LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  // Hands WM_COMMAND, WM_NOTIFY and WM_DRAWITEM of child controls to their objects.
  static bool RouteToControl(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
  HWND hwnd_ = nullptr;

 private:
  static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);
};

// Paints what the parent of `child` shows under the child into dc (the child's client
// coordinates), clipped to width x height: how a child looks transparent.
void PaintParentBackground(HWND child, HDC dc, int width, int height);

// A window that draws all of itself in one function, off-screen first so that nothing
// flickers; WM_PRINTCLIENT draws into the caller's DC.
class PaintedWindow : public Window {
 protected:
  virtual void PaintWindow(HDC dc) = 0;
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
};

enum class ModalResult { None = 0, Ok = 1, Cancel = 2, Abort = 3 };

// A top-level form: fixed single border, button-face background, standard font, centred.
//
// Keyboard focus: a form shown anew gives the focus to the first control of its tab order
// (none: the form keeps it). When the form is deactivated, for a dialog or another
// program, it remembers the control that had the focus; activated again, it gives the
// focus back to that control, so that nothing looks entered afresh.
class Form : public Window {
 public:
  static constexpr const char* kClass = "QuilletForm";

  // Menu commands and the close question. canClose starts true.
  std::function<void(bool& canClose)> onCloseQuery;

  void Show();
  void Hide() { ShowWindow(hwnd_, SW_HIDE); }
  // Shows the form modally: the other windows of the thread are disabled until the form is
  // closed or ModalResult becomes non-zero. Returns that result.
  int ShowModal();
  void SetModalResult(int result) { modalResult_ = result; }
  int GetModalResult() const { return modalResult_; }
  // Runs the close question; hides the form (modal) or destroys it (modeless) when allowed.
  void Close();

 protected:
  // style adds title-bar buttons: WS_SYSMENU | WS_MINIMIZEBOX etc.
  void CreateForm(const std::string& caption, int clientWidth, int clientHeight, DWORD style, HMENU menu = nullptr,
                  HWND owner = nullptr);
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
  // Called for WM_COMMAND of menu items (lParam 0).
  virtual void OnMenuCommand(int /*id*/) {}
  // Destroys (main window) or hides (dialog) after the close question allowed it.
  virtual void DoClose();

  bool modal_ = false;
  int modalResult_ = 0;

 private:
  // Gives the focus to the remembered control, else to the first of the tab order; false
  // when there is no control to take it.
  bool RestoreFocus();
  HWND focused_ = nullptr;
};

}  // namespace quillet::win
