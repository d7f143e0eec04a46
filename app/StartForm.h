#pragma once
// The settings dialog: how many of the search engine's top results the affiliate program
// search skips and how many it asks for. The two fields are the settings in effect: the
// search reads them when it starts. They are read from the registry once, when the dialog
// is created, and written back whenever it closes.
#include <windows.h>

#include "framework/Controls.h"
#include "framework/Window.h"
#include "research/SearchSettings.h"
#include "widgets/SpinEdit.h"

namespace quillet {

class TStartForm : public win::Form {
 public:
  // Creates the dialog hidden, owned by the application's main window (if there is one
  // yet), and reads the stored settings.
  TStartForm();

  // Handlers.
  void FormCreate();
  void FormCloseQuery(bool& canClose);
  void BitBtn1Click() { Close(); }

  // Components.
  win::Button BitBtn1;
  win::GroupBox GroupBox1;
  win::Label Label3, Label2, Label1;
  widgets::TSpinEdit SkipSpinEdit;
  widgets::TSpinEdit MaxResultsSpinEdit;

 protected:
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override;
};

}  // namespace quillet
