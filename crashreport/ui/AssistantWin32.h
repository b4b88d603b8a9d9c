#pragma once
// The assistant forms on the screen: the assistants of the settings (Assistant1, ...) built from
// the "TME" + form name resources, each form a modal window of the class "xunNVAssistantWnd", and
// the built-in handlers of the contact and the screenshot form.
#include <windows.h>

#include <string>
#include <string_view>

#include "crashreport/base/RefCounted.h"
#include "crashreport/bitmap/NVBitmap.h"
#include "crashreport/report/BugReport.h"
#include "crashreport/settings/Settings.h"
#include "crashreport/ui/AssistantForm.h"

// What the assistant reads and changes of one exception.
struct TAssistantSubject {
    TRef<TBugReport> Report;       // receives the inputs; may be null
    TRef<INVBitmap> Screenshot;    // null: no screenshot (the screenshot form is dropped)
    bool AttachScreenshot = false; // the screenshot form's check box
    std::string MailFrom;          // UTF-8, set by the contact form (also written to the settings)
    std::wstring TempFolder;       // the crash reporter's, for the edited screenshot; empty: the system's
    TFormCache* Cache = nullptr;   // the inputs of this exception's earlier assistants; may be null
    HMODULE Module = nullptr;      // the reporting module, holder of the forms; null: the exe
};

// The assistant named `name` of the settings, built and filled from the cache; null when the
// settings define no such assistant. The handlers act on `subject`, which must outlive it.
TRef<TNVAssistant> GetAssistant(IMESettings& settings, std::string_view name, TAssistantSubject& subject);

// Shows the forms in order with the owner disabled: 3 when one ended with cancel, else 1.
int ShowAssistantModal(TNVAssistant& assistant, HWND owner);
// One form: 1 continue, 2 skip (also a form a handler skipped), 3 cancel.
int ShowFormModal(TNVForm& form, HWND owner);

// The assistant before send, save or print: built, shown (a topmost owner loses that state for
// the time), and when the user confirms, its inputs put into the report and the cache. Returns 0
// when the settings name no such assistant, 1 when confirmed, 3 when cancelled.
int RunActionAssistant(IMESettings& settings, std::string_view assistantName, TAssistantSubject& subject,
                       HWND owner);

// The control id of the form's item with this index (the main buttons are 0, 1, 2).
constexpr int AssistantItemId = 1000;
