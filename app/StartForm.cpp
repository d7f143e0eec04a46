#include "app/StartForm.h"

#include <string>

#include "framework/Application.h"
#include "framework/Registry.h"

namespace quillet {
namespace {

// The group box's children are placed relative to it but are the form's own windows, so
// that their notifications and the dialog keys reach the form.
constexpr int kGroupLeft = 10, kGroupTop = 6;

win::Bounds InGroup(int left, int top, int width, int height) {
  return {kGroupLeft + left, kGroupTop + top, width, height};
}

}  // namespace

TStartForm::TStartForm() {
  HWND owner = win::Application::Instance().MainWindow();
  CreateForm("Settings...", 303, 161, WS_SYSMENU, nullptr, IsWindow(owner) ? owner : nullptr);
  // A group box paints only its frame: the form must paint the face under it.
  SetWindowLongA(hwnd_, GWL_STYLE, GetWindowLongA(hwnd_, GWL_STYLE) & ~WS_CLIPCHILDREN);
  // Creation order is the tab order: "OK" first.
  BitBtn1.Create(hwnd_, "OK", {215, 121, 77, 35});
  BitBtn1.onClick = [this] { BitBtn1Click(); };
  GroupBox1.Create(hwnd_, "", {kGroupLeft, kGroupTop, 283, 105});
  Label3.Create(hwnd_, "Skip top", kGroupLeft + 97, kGroupTop + 33);
  SkipSpinEdit.Create(hwnd_, InGroup(148, 28, 51, 22));
  SkipSpinEdit.SetMaxLength(3);
  Label2.Create(hwnd_, "results", kGroupLeft + 209, kGroupTop + 32);
  Label1.Create(hwnd_, "Max number of results", kGroupLeft + 37, kGroupTop + 66);
  MaxResultsSpinEdit.Create(hwnd_, InGroup(148, 61, 51, 22));
  MaxResultsSpinEdit.MinValue = kMinResults;
  MaxResultsSpinEdit.MaxValue = kMaxResults;
  MaxResultsSpinEdit.SetMaxLength(2);
  MaxResultsSpinEdit.SetValue(kDefaultResults);
  onCloseQuery = [this](bool& canClose) { FormCloseQuery(canClose); };
  FormCreate();
}

void TStartForm::FormCreate() {
  // Opened, never created, here: without the key every value counts as missing.
  const win::RegistryKey key = win::RegistryKey::Open(HKEY_CURRENT_USER, kSetupKey);
  const SearchSettings settings = ReadSearchSettings(key);
  SkipSpinEdit.SetValue(settings.skip);
  MaxResultsSpinEdit.SetValue(settings.results);
}

void TStartForm::FormCloseQuery(bool& canClose) {
  canClose = true;
  // A field still holding the focus has not been bounded yet; store what it will show.
  SkipSpinEdit.BoundText();
  MaxResultsSpinEdit.BoundText();
  win::RegistryKey key = win::RegistryKey::Create(HKEY_CURRENT_USER, kSetupKey);
  if (!key.IsOpen()) return;
  if (!key.WriteDword("skip", static_cast<uint32_t>(SkipSpinEdit.Value()))) return;
  key.WriteDword("results", static_cast<uint32_t>(MaxResultsSpinEdit.Value()));
}

LRESULT TStartForm::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CTLCOLORSTATIC) {
    // Labels on the button face, not on the window colour.
    SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
  }
  return Form::HandleMessage(msg, wp, lp);
}

}  // namespace quillet
