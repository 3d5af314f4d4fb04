// Config -> Function Keys...: F1-F12 texts and script flags, F2-F9 labels and colours.
#include "app/buttons.h"
#include "platform/qt/keyeditor.h"
#include "platform/qt/qt_ui.h"

namespace {
void OpenFkeys(QWidget* parent) { OpenKeyEditor(parent, false); }
}  // namespace

OXEL_DIALOG(kFkeysDialog, OpenFkeys);
