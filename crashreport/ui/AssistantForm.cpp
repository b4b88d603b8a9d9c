#include "crashreport/ui/AssistantForm.h"

#include <algorithm>
#include <cstring>

#include "crashreport/base/Text.h"

namespace {

constexpr int MaxObjectDepth = 32; // deeper nesting in a resource is hostile, not a form

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

std::string LowerText(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = Lower(c);
    return out;
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return out;
}

bool ToBool(std::string_view v) {
    return SameName(v, "yes") || SameName(v, "true") || v == "1";
}

// Decimal, as the stream's integers are written; anything else is 0. Clamped so no size derived
// from a resource can overflow.
int ToInt(std::string_view v, int lo, int hi) {
    size_t i = 0;
    bool negative = false;
    if (i < v.size() && (v[i] == '-' || v[i] == '+')) negative = v[i++] == '-';
    if (i == v.size()) return std::clamp(0, lo, hi);
    int64_t n = 0;
    for (; i < v.size(); ++i) {
        if (v[i] < '0' || v[i] > '9') return std::clamp(0, lo, hi);
        n = std::min<int64_t>(n * 10 + (v[i] - '0'), int64_t(1) << 40);
    }
    if (negative) n = -n;
    return int(std::clamp<int64_t>(n, lo, hi));
}

std::string ReplaceLineBreaks(std::string text) {
    const std::string lower = LowerText(text);
    std::string out;
    size_t from = 0;
    for (size_t at; (at = lower.find("%lf%", from)) != std::string::npos; from = at + 4)
        out.append(text, from, at - from).append("\r\n");
    return out.append(text, from);
}

constexpr int NoLimit = 1 << 20;

// ---- the stream

class TStreamReader {
public:
    TStreamReader(std::span<const uint8_t> data, TNVForm& form, IInternalErrorSink* errors)
        : FData(data), FForm(form), FErrors(errors) {}

    TNVStreamResult Read() {
        TNVStreamResult result;
        if (FData.size() < 4 || std::memcmp(FData.data(), "TPF0", 4) != 0) return result;
        result.Signature = true;
        FPos = 4;
        result.Complete = Object(0);
        result.BadType = FBadType;
        return result;
    }

private:
    bool Byte(uint8_t& v) {
        if (FPos >= FData.size()) return false;
        v = FData[FPos++];
        return true;
    }
    bool Chars(size_t n, std::string& out) {
        if (n > FData.size() - FPos) return false;
        out.assign(reinterpret_cast<const char*>(FData.data() + FPos), n);
        FPos += n;
        return true;
    }
    bool ShortString(std::string& out) {
        uint8_t n;
        return Byte(n) && Chars(n, out);
    }
    bool Int(size_t bytes, int32_t& v) {
        if (bytes > FData.size() - FPos) return false;
        uint32_t u = 0;
        for (size_t i = 0; i < bytes; ++i)
            u |= uint32_t(FData[FPos + i]) << (8 * i);
        FPos += bytes;
        v = bytes == 1 ? int8_t(u) : bytes == 2 ? int16_t(u) : int32_t(u);
        return true;
    }

    // The value as text; false when the stream ends or the type is unknown (FBadType set).
    bool Value(std::string& text) {
        uint8_t type;
        if (!Byte(type)) return false;
        int32_t i = 0;
        switch (type) {
        case vaInt8:
        case vaInt16:
        case vaInt32:
            if (!Int(type == vaInt8 ? 1 : type == vaInt16 ? 2 : 4, i)) return false;
            text = std::to_string(i);
            return true;
        case vaString:
        case vaIdent:
            if (!ShortString(text)) return false;
            text = Cp1252ToUtf8(text);
            return true;
        case vaFalse:
            text = "0";
            return true;
        case vaTrue:
            text = "1";
            return true;
        case vaLString:
            if (!Int(4, i) || !Chars(uint32_t(i), text)) return false;
            text = Cp1252ToUtf8(text);
            return true;
        default:
            FBadType = type;
            if (FErrors)
                FErrors->ShowInternalError(
                    "Internal error: Invalid assistant resource (" + Hex(type, 2) + ").", "xunExcept");
            return false;
        }
    }

    bool Object(int depth) {
        if (depth > MaxObjectDepth) return false;
        std::string cls, name;
        if (!ShortString(cls) || !ShortString(name)) return false;
        if (SameName(name, "AbortBtn")) name = "CancelBtn";
        if (!cls.empty()) cls[0] = 'T';
        TNVItem* item = nullptr;
        const struct {
            const char* Class;
            TNVItemKind Kind;
        } kinds[] = {{"TNVButton", TNVItemKind::Button},
                     {"TNVLabel", TNVItemKind::Label},
                     {"TNVEdit", TNVItemKind::Edit},
                     {"TNVCheckBox", TNVItemKind::CheckBox},
                     {"TNVImage", TNVItemKind::Image}};
        bool isItem = false;
        for (const auto& k : kinds) {
            if (!SameName(cls, k.Class)) continue;
            isItem = true;
            if (k.Kind == TNVItemKind::Button)
                for (int b = 0; b < NVMainButtons; ++b)
                    if (SameName(FForm.Items[size_t(b)].Name, name)) item = &FForm.Items[size_t(b)];
            if (!item) item = &FForm.AddItem(k.Kind, name);
            break;
        }
        if (!isItem && !FNamed) {
            FForm.Name = name;
            FNamed = true;
        }
        for (;;) {
            uint8_t n;
            if (!Byte(n)) return false;
            if (n == 0) break;
            std::string prop, value;
            if (!Chars(n, prop) || !Value(value)) return false;
            ApplyFormProperty(FForm, item, prop, value);
        }
        for (;;) {
            if (FPos >= FData.size()) return false;
            if (FData[FPos] == 0) {
                ++FPos;
                return true;
            }
            if (!Object(depth + 1)) return false;
        }
    }

    std::span<const uint8_t> FData;
    size_t FPos = 0;
    TNVForm& FForm;
    IInternalErrorSink* FErrors;
    bool FNamed = false;
    int FBadType = -1;
};

// The gap below an item, before the next one.
int GapAfter(const TNVItem& item, const TNVItem* next, int lineHeight) {
    if (item.Kind == TNVItemKind::Label && !item.Caption.empty() &&
        (item.Caption.back() == ':' || item.Caption.back() == '?') && item.Rect.Height <= lineHeight)
        return 4;
    if (next && next->Kind != item.Kind) return 12;
    switch (item.Kind) {
    case TNVItemKind::Button:
        return 4;
    case TNVItemKind::Edit:
        return 6;
    default:
        return 8;
    }
}

} // namespace

// ---- items and forms

bool TNVItem::Focusable() const {
    if (!Shown() || !Enabled || ForcedDisabled) return false;
    return Kind == TNVItemKind::Button || Kind == TNVItemKind::Edit || Kind == TNVItemKind::CheckBox;
}

TNVForm::TNVForm(TNVAssistant* owner) : Owner(owner) {
    const char* const names[] = {"ContinueBtn", "SkipBtn", "CancelBtn"};
    const char* const captions[] = {"Next >", "Skip", "Cancel"};
    for (int i = 0; i < NVMainButtons; ++i)
        AddItem(TNVItemKind::Button, names[i]).Caption = captions[i];
}

TNVItem& TNVForm::AddItem(TNVItemKind kind, std::string name) {
    TNVItem& item = Items.emplace_back();
    item.Kind = kind;
    item.Name = std::move(name);
    item.Index = int(Items.size()) - 1;
    item.TabStop = kind != TNVItemKind::Label && kind != TNVItemKind::Image;
    return item;
}

TNVItem* TNVForm::Item(int index) {
    return index >= 0 && size_t(index) < Items.size() ? &Items[size_t(index)] : nullptr;
}

TNVItem* TNVForm::Find(std::string_view name) {
    for (TNVItem& item : Items)
        if (SameName(item.Name, name)) return &item;
    return nullptr;
}

TNVItem* TNVForm::Find(std::string_view name, TNVItemKind kind) {
    for (TNVItem& item : Items)
        if (item.Kind == kind && SameName(item.Name, name)) return &item;
    return nullptr;
}

void TNVForm::Fire(int action, TNVItem* item) {
    for (TNVActionHandler* handler : {&Handler, Owner ? &Owner->Handler : nullptr}) {
        if (!handler || !*handler) continue;
        try {
            (*handler)(*this, action, item);
        } catch (...) {
        }
    }
}

bool TNVForm::UpdateContinue() {
    bool refused = false;
    for (const TNVItem& item : Items)
        refused = refused || item.Refuses();
    const bool changed = ContinueBtn().ForcedDisabled != refused;
    ContinueBtn().ForcedDisabled = refused;
    return changed;
}

TNVItem* TNVForm::FirstFocus() {
    if (!ActiveControl.empty())
        if (TNVItem* item = Find(ActiveControl); item && item->Focusable()) return item;
    for (size_t i = NVMainButtons; i < Items.size(); ++i)
        if (Items[i].Focusable()) return &Items[i];
    for (int i = 0; i < NVMainButtons; ++i)
        if (Items[size_t(i)].Focusable()) return &Items[size_t(i)];
    return nullptr;
}

TNVForm& TNVAssistant::AddForm(std::string name) {
    auto form = std::make_unique<TNVForm>(this);
    form->Name = std::move(name);
    form->Title = Title;
    Forms.push_back(std::move(form));
    return *Forms.back();
}

// ---- the stream

bool ApplyFormProperty(TNVForm& form, TNVItem* item, std::string_view name, const std::string& value) {
    auto is = [&](const char* n) { return SameName(name, n); };
    if (!item) {
        if (is("MinWidth"))
            form.MinWidth = ToInt(value, 0, 4000);
        else if (is("Message"))
            form.Message = value;
        else if (is("ActiveControl"))
            form.ActiveControl = value;
        else if (is("Timer"))
            form.Timer = ToInt(value, 0, NoLimit);
        else if (is("OnAction"))
            form.OnAction = value;
        else
            return false;
        return true;
    }
    TNVItem& it = *item;
    if (is("Spacing"))
        it.Spacing = ToInt(value, -1000, 1000);
    else if (is("Enabled"))
        it.Enabled = ToBool(value);
    else if (is("OutputType"))
        it.OwnSectionType = LowerText(value).find("ownsection") != std::string::npos;
    else if (is("OutputName"))
        it.OutputName = value;
    else if (is("Caption") && it.Kind != TNVItemKind::Edit && it.Kind != TNVItemKind::Image)
        it.Caption = value;
    else if (is("Text") && it.Kind == TNVItemKind::CheckBox)
        it.Caption = value;
    else if (it.Kind == TNVItemKind::Button && is("MinWidth"))
        it.MinWidth = ToInt(value, 0, 4000);
    else if (it.Kind == TNVItemKind::Button && is("NoOwnerDraw"))
        it.NoOwnerDraw = ToBool(value);
    else if (it.Kind == TNVItemKind::Button && is("Visible"))
        it.Visible = ToBool(value);
    else if (it.Kind == TNVItemKind::Edit && is("Text"))
        it.Text = ReplaceLineBreaks(value);
    else if (it.Kind == TNVItemKind::Edit && is("Lines"))
        it.Lines = ToInt(value, 1, 100);
    else if (it.Kind == TNVItemKind::Edit && is("Optional"))
        it.Optional = ToBool(value);
    else if (it.Kind == TNVItemKind::Edit && is("Colored"))
        it.Colored = ToBool(value);
    else if (it.Kind == TNVItemKind::Edit && is("Valid"))
        it.Valid = ToBool(value);
    else if (it.Kind == TNVItemKind::CheckBox && is("Checked"))
        it.Checked = ToBool(value);
    else if (it.Kind == TNVItemKind::Image && is("Width"))
        it.Width = ToInt(value, 0, 10000);
    else if (it.Kind == TNVItemKind::Image && is("Height"))
        it.Height = ToInt(value, 0, 10000);
    else if (it.Kind == TNVItemKind::Image && is("File"))
        it.File = value;
    else if (it.Kind == TNVItemKind::Image && is("Clickable"))
        it.Clickable = ToBool(value);
    else if (it.Kind == TNVItemKind::Image && is("Border"))
        it.Border = ToBool(value);
    else
        return false;
    return true;
}

TNVStreamResult ReadFormStream(std::span<const uint8_t> data, TNVForm& form, IInternalErrorSink* errors) {
    return TStreamReader(data, form, errors).Read();
}

// ---- building

bool FindAssistantDefinition(IMESettings& settings, std::string_view name, TAssistantDefinition& found) {
    // A settings resource holds a few; the bound only keeps a broken one from looping for long.
    for (int i = 1; i <= 1000; ++i) {
        const std::string text = settings.ReadText("Assistant" + std::to_string(i));
        if (text.empty()) return false;
        std::vector<std::string> fields;
        size_t from = 0;
        for (size_t bar; (bar = text.find('|', from)) != std::string::npos; from = bar + 1)
            fields.push_back(text.substr(from, bar - from));
        fields.push_back(text.substr(from));
        if (!SameName(fields[0], name)) continue;
        // Settings texts are in the single-byte code page, the forms' in UTF-8.
        found.Name = Cp1252ToUtf8(fields[0]);
        found.Title = fields.size() > 1 ? Cp1252ToUtf8(fields[1]) : std::string();
        found.Forms.clear();
        for (size_t f = 2; f < fields.size(); ++f)
            if (!fields[f].empty()) found.Forms.push_back(fields[f]);
        return true;
    }
    return false;
}

TRef<TNVAssistant> BuildAssistant(const TAssistantDefinition& definition, bool dropScreenshotForm,
                                  const TAssistantSources& sources) {
    auto assistant = MakeRef<TNVAssistant>();
    assistant->Name = definition.Name;
    assistant->Title = definition.Title;
    for (const std::string& name : definition.Forms) {
        if (dropScreenshotForm && SameName(name, "ScrShotForm")) continue;
        TNVForm& form = assistant->AddForm(name);
        std::vector<uint8_t> data;
        if (sources.LoadForm && sources.LoadForm("TME" + Upper(name), data))
            ReadFormStream(data, form, sources.Errors);
    }
    const int count = int(assistant->Forms.size());
    for (int i = 0; i < count; ++i) {
        TNVForm& form = *assistant->Forms[size_t(i)];
        form.Position = i + 1;
        form.Count = count;
        if (!form.OnAction.empty() && sources.ResolveHandler)
            form.Handler = sources.ResolveHandler(form.OnAction);
        form.Fire(NVFormCreated);
    }
    return assistant;
}

// ---- layout

TNVRect ImagePictureRect(const TNVItem& image) {
    const int inset = (image.Clickable ? 3 : 0) + (image.Border ? 1 : 0);
    TNVRect r = image.Rect;
    r.Left += inset;
    r.Top += inset;
    r.Width = std::max(r.Width - 2 * inset, 0);
    r.Height = std::max(r.Height - 2 * inset, 0);
    return r;
}

void LayoutForm(TNVForm& form, const TNVLayoutEnv& env) {
    auto measure = [&](TNVFont font, std::string_view text, int wrap) {
        return env.MeasureText ? env.MeasureText(font, text, wrap) : TNVSize{};
    };
    // Main buttons.
    int buttonsWidth = 0;
    form.ButtonHeight = 0;
    for (int i = 0; i < NVMainButtons; ++i) {
        TNVItem& b = form.Items[size_t(i)];
        int w, h;
        if (b.NoOwnerDraw) {
            w = measure(TNVFont::Dialog, b.Caption, 0).Width + 20;
            if (w - 20 < 55) w = 75;
            h = 23;
        } else {
            w = measure(TNVFont::Button, b.Caption, 0).Width + 20;
            if (w - 20 <= 64) w = 85;
            h = 32;
        }
        w = std::max(w, b.MinWidth);
        b.Rect = {0, 0, b.Visible ? w : 0, b.Visible ? h : 0};
        buttonsWidth += b.Visible ? w : -8;
        if (b.Visible) form.ButtonHeight = std::max(form.ButtonHeight, h);
    }
    if (form.ButtonHeight == 0) form.ButtonHeight = form.ContinueBtn().NoOwnerDraw ? 23 : 32;

    // Width.
    const int message = measure(TNVFont::BoldButton, form.Message, 0).Width + 19 * form.Count + 36;
    const int width = std::max({buttonsWidth + 32, 315, form.MinWidth, message});
    form.Width = width;

    // Items from top to bottom.
    const int lineHeight = measure(TNVFont::Dialog, "Gg", 0).Height;
    std::vector<TNVItem*> flow;
    for (size_t i = NVMainButtons; i < form.Items.size(); ++i)
        if (form.Items[i].Shown())
            flow.push_back(&form.Items[i]);
        else
            form.Items[i].Rect = {};
    int y = 40;
    for (size_t k = 0; k < flow.size(); ++k) {
        TNVItem& it = *flow[k];
        TNVSize size;
        switch (it.Kind) {
        case TNVItemKind::Label:
            size = {width - 46, measure(TNVFont::Dialog, it.Caption, width - 46).Height};
            break;
        case TNVItemKind::Edit:
            size = {width - 46, lineHeight * it.Lines + 2};
            break;
        case TNVItemKind::CheckBox: {
            const TNVSize text = measure(TNVFont::Dialog, it.Caption, 0);
            size = {text.Width + env.CheckMarkWidth + 8, std::max(text.Height, env.CheckMarkWidth)};
            break;
        }
        case TNVItemKind::Button: {
            const TNVSize text = measure(TNVFont::Dialog, it.Caption, 0);
            size = {std::max({text.Width + 32, 70, it.MinWidth}), text.Height + 10};
            break;
        }
        case TNVItemKind::Image: {
            TNVSize picture = {it.Width, it.Height};
            if (picture.Width <= 0 || picture.Height <= 0)
                picture = env.PictureSize ? env.PictureSize(it) : TNVSize{};
            if (picture.Width <= 0 || picture.Height <= 0) picture = {32, 32};
            const int extra = (it.Clickable ? 6 : 0) + (it.Border ? 2 : 0);
            const int maxW = std::max(width - 42 - extra, 1), maxH = std::max(env.ScreenHeight / 3, 1);
            // Shrunk as a whole, so the picture keeps its proportions.
            if (picture.Width > maxW || picture.Height > maxH) {
                const int64_t byW = int64_t(maxW) * picture.Height, byH = int64_t(maxH) * picture.Width;
                if (byW <= byH) {
                    picture = {maxW, int(std::max<int64_t>(byW / picture.Width, 1))};
                } else {
                    picture = {int(std::max<int64_t>(byH / picture.Height, 1)), maxH};
                }
            }
            size = {picture.Width + extra, picture.Height + extra};
            break;
        }
        }
        it.Rect = {21, y, size.Width, size.Height};
        y += size.Height + it.Spacing + GapAfter(it, k + 1 < flow.size() ? flow[k + 1] : nullptr, lineHeight);
    }
    form.Height = y + form.ButtonHeight + 33;

    // Main buttons at the bottom.
    TNVItem &cont = form.ContinueBtn(), &skip = form.SkipBtn(), &cancel = form.CancelBtn();
    for (TNVItem* b : {&cont, &skip, &cancel})
        b->Rect.Top = form.Height - 9 - b->Rect.Height;
    cancel.Rect.Left = width - cancel.Rect.Width - 8;
    if (cont.NoOwnerDraw && cancel.NoOwnerDraw && !skip.Visible) {
        cont.Rect.Left = cancel.Rect.Left - 8 - cont.Rect.Width;
        skip.Rect.Left = 8;
    } else {
        cont.Rect.Left = 8;
        skip.Rect.Left = cont.Visible ? cont.Rect.Right() + 8 : 8;
    }
}

// ---- e-mail

bool IsPlausibleEmail(std::string_view a) {
    if (a.empty() || a.front() <= ' ' || a.back() <= ' ') return false;
    const size_t firstAt = a.find('@'), lastAt = a.rfind('@');
    if (firstAt == std::string_view::npos || a.find('@', 1) == std::string_view::npos) return false;
    if (a.front() == '.' || a.back() == '.') return false;
    if (lastAt + 1 < a.size() && a[lastAt + 1] == '.') return false;
    if (a.find('.', firstAt) == std::string_view::npos) return false;
    int words = 0, dots = 0, ats = 0;
    for (char c : a) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '\'' ||
            c == '+' || c == '-' || c == '_')
            ++words;
        else if (c == '.')
            ++dots;
        else if (c == '@')
            ++ats;
        else
            return false;
    }
    return words > 0 && dots > 0 && ats == 1;
}

// ---- cache and report

bool TFormCache::Find(std::string_view name, std::string& value) const {
    for (const auto& [n, v] : FValues)
        if (SameName(n, name)) {
            value = v;
            return true;
        }
    return false;
}

void TFormCache::Fill(const TNVAssistant& assistant) {
    auto put = [&](const std::string& name, std::string value) {
        for (auto& [n, v] : FValues)
            if (SameName(n, name)) {
                v = std::move(value);
                return;
            }
        FValues.emplace_back(name, std::move(value));
    };
    for (const auto& form : assistant.Forms) {
        if (form->ModalResult != NVContinue) continue;
        for (const TNVItem& item : form->Items) {
            if (item.Kind == TNVItemKind::Edit) put(item.Name, item.Text);
            if (item.Kind == TNVItemKind::CheckBox) put(item.Name, item.Checked ? "+" : "-");
        }
    }
}

void TFormCache::Read(TNVAssistant& assistant) const {
    for (const auto& form : assistant.Forms) {
        int inputs = 0, found = 0;
        for (TNVItem& item : form->Items) {
            if (item.Kind != TNVItemKind::Edit && item.Kind != TNVItemKind::CheckBox) continue;
            ++inputs;
            std::string value;
            if (!Find(item.Name, value)) continue;
            ++found;
            if (item.Kind == TNVItemKind::Edit)
                item.Text = value;
            else
                item.Checked = value == "+";
        }
        if (inputs > 0 && found == inputs && form->ContinueBtn().Enabled) form->ActiveControl = "ContinueBtn";
    }
}

void PutAssistantIntoReport(const TNVAssistant& assistant, IMEFields& header, IMEFields& sections) {
    for (const auto& form : assistant.Forms) {
        if (form->ModalResult != NVContinue) continue;
        for (const TNVItem& item : form->Items) {
            if (item.OutputName.empty()) continue;
            if (item.Kind == TNVItemKind::CheckBox) {
                header.SetContents(item.OutputName, item.Checked ? "yes" : "no");
            } else if (item.Kind == TNVItemKind::Edit && !item.Text.empty()) {
                if (item.WritesOwnSection())
                    sections.SetContents(item.OutputName, item.Text);
                else
                    header.SetContents(item.OutputName, item.Text);
            }
        }
    }
}
