#pragma once
// The assistant form engine (unit xunNVAssistant) without a window: the forms read from their
// component streams ("TPF0"), the items and their properties, the layout over a text-measuring
// function, the continue and focus rules, the e-mail rule of the contact form, the form cache and
// what the inputs put into the bug report. AssistantWin32 shows the forms.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/base/RefCounted.h"
#include "crashreport/report/Fields.h"
#include "crashreport/settings/Settings.h"

enum class TNVItemKind : uint8_t { Button, Label, Edit, CheckBox, Image };

// What handlers are told.
enum TNVAction : int { NVFormCreated = 0, NVFormShow = 1, NVFormClosed = 2, NVItemEvent = 3 };
enum TNVResult : int { NVNone = 0, NVContinue = 1, NVSkip = 2, NVCancel = 3 };

// The three main buttons are always the first items.
enum : int { NVContinueBtn = 0, NVSkipBtn = 1, NVCancelBtn = 2, NVMainButtons = 3 };

struct TNVRect {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    int Right() const { return Left + Width; }
    int Bottom() const { return Top + Height; }
    bool operator==(const TNVRect&) const = default;
};

// One item; the kind decides which of the properties matter. Texts are UTF-8.
struct TNVItem {
    TNVItemKind Kind = TNVItemKind::Label;
    std::string Name;
    int Index = 0;
    bool Enabled = true;
    bool ForcedDisabled = false; // the continue button while an item refuses it
    int Spacing = 0;
    std::string OutputName;
    bool OwnSectionType = false; // OutputType; counts only for edits of more than one line
    TNVRect Rect;
    bool TabStop = false;

    std::string Caption; // button, label, check box
    int MinWidth = 0;    // button
    bool NoOwnerDraw = false, Visible = true;
    std::string Text; // edit
    int Lines = 1;
    bool Optional = false, Colored = false, Valid = true;
    bool Checked = false;      // check box
    int Width = 0, Height = 0; // image
    std::string File;
    bool Clickable = false, Border = false;
    TRef<IRefCounted> Picture; // the image's picture; what kind is the window layer's business

    bool IsMainButton() const { return Kind == TNVItemKind::Button && Index < NVMainButtons; }
    bool Shown() const { return Kind != TNVItemKind::Button || Visible; }
    // An edit refuses the continue button unless it is optional, or valid and not empty.
    bool Refuses() const { return Kind == TNVItemKind::Edit && !Optional && !(Valid && !Text.empty()); }
    bool WritesOwnSection() const { return Kind == TNVItemKind::Edit && Lines > 1 && OwnSectionType; }
    bool Focusable() const;
};

class TNVForm;
class TNVAssistant;
// A handler gets the form, the action and the item (null for the form's own events and the timer).
using TNVActionHandler = std::function<void(TNVForm& form, int action, TNVItem* item)>;

class TNVForm {
public:
    // A form starts with its three main buttons: "Next >", "Skip", "Cancel".
    explicit TNVForm(TNVAssistant* owner = nullptr);
    TNVForm(const TNVForm&) = delete;
    TNVForm& operator=(const TNVForm&) = delete;

    TNVAssistant* Owner;
    std::string Name, Title, Message, ActiveControl, OnAction;
    int MinWidth = 0;
    int Timer = 0;               // ms, 0: none
    int Position = 1, Count = 1; // the step display: this form's number of the assistant's forms
    std::deque<TNVItem> Items;   // a deque: handlers keep item pointers while items are read
    int ModalResult = NVNone;
    bool Skipped = false;      // set by a handler: the form is not shown
    int Width = 0, Height = 0; // client size, after the layout
    int ButtonHeight = 0;      // of the main buttons
    void* Data = nullptr;      // free for handlers
    TNVItem* PressedImage = nullptr;
    TNVActionHandler Handler;

    TNVItem* Item(int index);
    TNVItem* Find(std::string_view name);
    TNVItem* Find(std::string_view name, TNVItemKind kind);
    TNVItem& ContinueBtn() { return Items[NVContinueBtn]; }
    TNVItem& SkipBtn() { return Items[NVSkipBtn]; }
    TNVItem& CancelBtn() { return Items[NVCancelBtn]; }
    TNVItem& AddItem(TNVItemKind kind, std::string name);

    // The form's handler, then the assistant's; a handler that throws is passed over.
    void Fire(int action, TNVItem* item = nullptr);
    // Forces the continue button disabled while an item refuses it; true when that changed.
    bool UpdateContinue();
    // The item to focus first: ActiveControl when it can take the focus, else the first item
    // after the cancel button that can. Null when there is none.
    TNVItem* FirstFocus();
};

class TNVAssistant : public TRefCountedImpl<IRefCounted> {
public:
    std::string Name, Title;
    std::vector<std::unique_ptr<TNVForm>> Forms;
    int ModalResult = NVNone;
    TNVActionHandler Handler;

    TNVForm& AddForm(std::string name);
};

// ---- the component stream

struct TNVStreamResult {
    bool Signature = false; // began with "TPF0"
    bool Complete = false;  // every object was read to its end
    int BadType = -1;       // the value type that stopped reading, else -1
};

// Reads the form's objects and properties into `form` (its main buttons already there). An
// unknown value type stops reading with the internal-error message; a stream cut short stops
// silently. What was read before stays either way.
TNVStreamResult ReadFormStream(std::span<const uint8_t> data, TNVForm& form, IInternalErrorSink* errors);

// Applies one property, given as text, to an item or (item null) the form; false for an unknown name.
bool ApplyFormProperty(TNVForm& form, TNVItem* item, std::string_view name, const std::string& value);

// ---- building an assistant

struct TAssistantDefinition {
    std::string Name, Title;
    std::vector<std::string> Forms;
};

// Reads Assistant1, Assistant2, ... until one is empty or names this assistant (any case).
bool FindAssistantDefinition(IMESettings& settings, std::string_view name, TAssistantDefinition& found);

struct TAssistantSources {
    // The form's stream by resource name ("TME" + upper-case form name); false when missing.
    std::function<bool(const std::string& resourceName, std::vector<uint8_t>& data)> LoadForm;
    // The handler an OnAction text names; empty for none.
    std::function<TNVActionHandler(std::string_view onAction)> ResolveHandler;
    IInternalErrorSink* Errors = nullptr;
};

// The forms in order, each read from its stream, its handler bound and action 0 fired.
// `dropScreenshotForm`: the exception has no screenshot, or screenshots are off.
TRef<TNVAssistant> BuildAssistant(const TAssistantDefinition& definition, bool dropScreenshotForm,
                                  const TAssistantSources& sources);

// ---- layout

enum class TNVFont : uint8_t {
    Dialog,     // "Tahoma" 11: items, plain main buttons
    Button,     // "Arial" 15: owner-drawn main buttons
    BoldButton, // bold "Arial" 15: the message and the step numbers
};

struct TNVSize {
    int Width = 0, Height = 0;
};

struct TNVLayoutEnv {
    // The text's extent; wrapWidth > 0 breaks it into lines of at most that width.
    std::function<TNVSize(TNVFont font, std::string_view text, int wrapWidth)> MeasureText;
    // The picture an image shows (its own size), or 0 x 0 without one.
    std::function<TNVSize(const TNVItem& image)> PictureSize;
    int CheckMarkWidth = 13;
    int ScreenHeight = 768;
};

// Sets every item's Rect and the form's Width, Height and ButtonHeight.
void LayoutForm(TNVForm& form, const TNVLayoutEnv& env);

// Where an image's picture goes inside its item: past the clickable inset and the border.
TNVRect ImagePictureRect(const TNVItem& image);

// ---- the contact form's e-mail rule

bool IsPlausibleEmail(std::string_view address);

// ---- remembered inputs and the bug report

// The inputs of the assistants of one exception: edit texts and check box states ("+"/"-") by
// item name.
class TFormCache {
public:
    // Every edit and check box of every form that ended with continue.
    void Fill(const TNVAssistant& assistant);
    // Gives the same names their values back; a form whose edits and check boxes were all found
    // gets its continue button (if enabled) as the active control.
    void Read(TNVAssistant& assistant) const;
    bool Find(std::string_view name, std::string& value) const;

private:
    std::vector<std::pair<std::string, std::string>> FValues;
};

// For each form that ended with continue: check boxes as header fields "yes"/"no", edits with
// text as header fields, multi-line edits of the own-section type as sections.
void PutAssistantIntoReport(const TNVAssistant& assistant, IMEFields& header, IMEFields& sections);
