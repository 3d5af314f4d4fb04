// The Function Key Configuration and Buttons Configuration dialogs: one row
// per key or button with label, text, script flag and header colour.
#pragma once

class QWidget;

// Opens the dialog for the buttons or the function keys, or raises it when it
// is already open.
void OpenKeyEditor(QWidget* parent, bool buttons);
