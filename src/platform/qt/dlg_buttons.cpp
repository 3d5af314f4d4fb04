// Config -> Buttons...: the sixteen buttons' labels, texts, script flags and colours.
#include "app/buttons.h"
#include "platform/qt/keyeditor.h"
#include "platform/qt/qt_ui.h"

namespace {
void OpenButtons(QWidget* parent) { OpenKeyEditor(parent, true); }
}  // namespace

OXEL_DIALOG(kButtonsDialog, OpenButtons);
