// What the servers need from the program's reporting services, which live
// above them: start-up fills the rows; the defaults go straight to the face.
#pragma once

struct ServerHooks {
    // The error report (file without extension, line, text).
    void (*errorReport)(const char* file, int line, const char* text);
    // A system-modal box with an OK button.
    void (*messageBox)(const char* title, const char* text);
    // Asks for a status-bar refresh.
    void (*statusRefresh)();
};
ServerHooks& ServerHooksRef();

#define SRV_ERROR(text) ServerHooksRef().errorReport(OXEL_MODULE, __LINE__, (text))
