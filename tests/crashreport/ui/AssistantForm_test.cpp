// The assistant form engine without windows: the shipped form streams as the build compiled them,
// hostile streams, the layout numbers, the e-mail rule, the cache and what lands in the report.
#include "crashreport/ui/AssistantForm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

class TErrors : public IInternalErrorSink {
public:
    std::vector<std::string> Texts;
    void ShowInternalError(std::string_view text, std::string_view caption) override {
        Texts.push_back(std::string(text) + " | " + std::string(caption));
    }
};

std::vector<uint8_t> CompiledForm(const std::string& name) {
    std::ifstream in(std::string(ZE_FORMS_DIR) + "/" + name + ".bin", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Writes made-up streams.
struct TStream {
    std::vector<uint8_t> Bytes{'T', 'P', 'F', '0'};
    TStream& Short(std::string_view s) {
        Bytes.push_back(uint8_t(s.size()));
        Bytes.insert(Bytes.end(), s.begin(), s.end());
        return *this;
    }
    TStream& Object(std::string_view cls, std::string_view name) { return Short(cls).Short(name); }
    TStream& Raw(std::initializer_list<uint8_t> b) {
        Bytes.insert(Bytes.end(), b);
        return *this;
    }
    TStream& Text(std::string_view prop, std::string_view value) { return Short(prop).Raw({6}).Short(value); }
    TStream& End() { return Raw({0}); }
};

TNVItem& Only(TNVForm& form, std::string_view name) {
    TNVItem* item = form.Find(name);
    EXPECT_TRUE(item) << name;
    static TNVItem none;
    return item ? *item : none;
}

// Tahoma: 6 pixels a character, 13 a line; Arial 15: 8 and 17. Wrapped text breaks anywhere.
TNVLayoutEnv FakeEnv() {
    TNVLayoutEnv env;
    env.MeasureText = [](TNVFont font, std::string_view text, int wrap) {
        const int cw = font == TNVFont::Dialog ? 6 : 8, lh = font == TNVFont::Dialog ? 13 : 17;
        const int w = int(text.size()) * cw;
        if (wrap <= 0 || w <= wrap) return TNVSize{w, lh};
        return TNVSize{wrap, (w + wrap - 1) / wrap * lh};
    };
    env.PictureSize = [](const TNVItem&) { return TNVSize{1000, 600}; };
    env.CheckMarkWidth = 13;
    env.ScreenHeight = 768;
    return env;
}

TRef<TNVAssistant> ShippedAssistant(std::string_view name, bool dropScreenshot,
                                    std::vector<std::string>* fired) {
    auto settings = MakeRef<TSettingsOverlay<>>(nullptr);
    settings->WriteText("Assistant1", "Other|Other one|DetailsForm");
    settings->WriteText("Assistant2", "SendAssistant|Send Assistant|ContactForm|DetailsForm|ScrShotForm");
    settings->WriteText("Assistant3", "Tail|t|NoSuchForm");
    settings->WriteText("Assistant5", "Late|l|DetailsForm"); // after the missing Assistant4
    TAssistantDefinition definition;
    if (!FindAssistantDefinition(*settings, name, definition)) return nullptr;
    TAssistantSources sources;
    sources.LoadForm = [](const std::string& resource, std::vector<uint8_t>& data) {
        const std::pair<const char*, const char*> known[] = {{"TMECONTACTFORM", "contactform"},
                                                             {"TMEDETAILSFORM", "detailsform"},
                                                             {"TMESCRSHOTFORM", "scrshotform"}};
        for (auto [res, file] : known)
            if (resource == res) {
                data = CompiledForm(file);
                return true;
            }
        return false;
    };
    sources.ResolveHandler = [fired](std::string_view onAction) -> TNVActionHandler {
        return [fired, handler = std::string(onAction)](TNVForm& form, int action, TNVItem*) {
            if (fired) fired->push_back(handler + " " + form.Name + " " + std::to_string(action));
        };
    };
    return BuildAssistant(definition, dropScreenshot, sources);
}

} // namespace

TEST(AssistantForm, ShippedFormsHoldTheirItems) {
    TErrors errors;
    struct TCase {
        const char* File;
        const char* Message;
        bool SkipEnabled;
        std::vector<std::pair<TNVItemKind, const char*>> Items; // after the main buttons
    } cases[] = {
        {"contactform",
         "Contact Information",
         false,
         {{TNVItemKind::Label, "NameLbl"},
          {TNVItemKind::Edit, "NameEdit"},
          {TNVItemKind::Label, "EmailLbl"},
          {TNVItemKind::Edit, "EmailEdit"},
          {TNVItemKind::CheckBox, "MemCheck"}}},
        {"detailsform",
         "Error Details",
         true,
         {{TNVItemKind::Label, "DetailsLbl"}, {TNVItemKind::Edit, "DetailsMemo"}}},
        {"scrshotform",
         "Screenshot Configuration",
         false,
         {{TNVItemKind::CheckBox, "AttachCheck"},
          {TNVItemKind::Image, "ScrShotImg"},
          {TNVItemKind::Label, "EditLbl"}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File);
        TNVForm form;
        const std::vector<uint8_t> data = CompiledForm(c.File);
        ASSERT_FALSE(data.empty());
        const TNVStreamResult r = ReadFormStream(data, form, &errors);
        EXPECT_TRUE(r.Signature && r.Complete);
        EXPECT_EQ(form.Message, c.Message);
        EXPECT_EQ(form.ContinueBtn().Caption, "Continue");
        EXPECT_EQ(form.SkipBtn().Caption, "Skip");
        EXPECT_EQ(form.CancelBtn().Caption, "Cancel");
        EXPECT_EQ(form.SkipBtn().Enabled, c.SkipEnabled);
        ASSERT_EQ(form.Items.size(), NVMainButtons + c.Items.size());
        for (size_t i = 0; i < c.Items.size(); ++i) {
            EXPECT_EQ(form.Items[NVMainButtons + i].Kind, c.Items[i].first);
            EXPECT_EQ(form.Items[NVMainButtons + i].Name, c.Items[i].second);
        }
    }
    EXPECT_TRUE(errors.Texts.empty());

    TNVForm contact, details, shot;
    ReadFormStream(CompiledForm("contactform"), contact, nullptr);
    ReadFormStream(CompiledForm("detailsform"), details, nullptr);
    ReadFormStream(CompiledForm("scrshotform"), shot, nullptr);
    EXPECT_EQ(contact.Name, "ContactForm");
    EXPECT_EQ(contact.OnAction, "xunExcept.HandleContactForm");
    EXPECT_EQ(Only(contact, "NameLbl").Caption, "your name:");
    EXPECT_TRUE(Only(contact, "NameEdit").Optional);
    EXPECT_EQ(Only(contact, "NameEdit").OutputName, "contact name");
    EXPECT_FALSE(Only(contact, "EmailEdit").Optional);
    EXPECT_EQ(Only(contact, "EmailEdit").OutputName, "contact email");
    EXPECT_FALSE(Only(contact, "EmailEdit").WritesOwnSection());
    EXPECT_EQ(Only(contact, "MemCheck").Caption, "remember me");
    EXPECT_EQ(Only(details, "DetailsLbl").Caption, "in which situation did the error occur?");
    EXPECT_EQ(Only(details, "DetailsMemo").Lines, 9);
    EXPECT_TRUE(Only(details, "DetailsMemo").WritesOwnSection());
    EXPECT_EQ(Only(details, "DetailsMemo").OutputName, "error details");
    EXPECT_TRUE(details.OnAction.empty());
    EXPECT_EQ(shot.Timer, 250);
    EXPECT_EQ(shot.ActiveControl, "ContinueBtn");
    EXPECT_EQ(shot.OnAction, "xunExcept.HandleScreenshotForm");
    EXPECT_TRUE(Only(shot, "AttachCheck").Checked);
    EXPECT_EQ(Only(shot, "AttachCheck").Caption, "attach a screenshot to the bug report");
    EXPECT_TRUE(Only(shot, "ScrShotImg").Clickable && Only(shot, "ScrShotImg").Border);
    EXPECT_EQ(Only(shot, "EditLbl").Caption, "(click to edit image)");
}

TEST(AssistantForm, ValueTypesNamesAndHostileStreams) {
    // Each value type as the text the property gets.
    struct TValue {
        std::vector<uint8_t> Bytes;
        const char* Text;
    } values[] = {{{2, 0xFB}, "-5"},
                  {{3, 0xD4, 0xFE}, "-300"},
                  {{4, 0x70, 0x11, 0x01, 0x00}, "70000"},
                  {{6, 3, 'a', 'b', 'c'}, "abc"},
                  {{7, 2, 'o', 'k'}, "ok"},
                  {{8}, "0"},
                  {{9}, "1"},
                  {{12, 5, 0, 0, 0, 'l', 'o', 0xE4, 'n', 'g'}, "lo\xC3\xA4ng"}};
    for (const TValue& v : values) {
        TStream s;
        s.Object("INVForm", "F").End().Object("INVLabel", "L").Short("Caption");
        s.Bytes.insert(s.Bytes.end(), v.Bytes.begin(), v.Bytes.end());
        s.End().End().End();
        TNVForm form;
        EXPECT_TRUE(ReadFormStream(s.Bytes, form, nullptr).Complete);
        EXPECT_EQ(Only(form, "L").Caption, v.Text);
    }

    // Names: AbortBtn is the cancel button, any first letter makes a class T..., the first other
    // object names the form and nested ones add to it; items nest anywhere.
    TStream s;
    s.Object("XForm", "Outer").Text("Message", "hello").Text("Unknown", "x").End();
    s.Object("INVButton", "AbortBtn").Text("Caption", "Stop").Short("visible").Raw({8}).End().End();
    s.Object("QNVEdit", "E").Text("Text", "a%LF%b%lf%").Short("Lines").Raw({2, 3}).End();
    s.Object("Panel", "Inner").Text("MinWidth", "400").End();
    s.Object("INVCheckBox", "C").Text("Text", "box").Text("Checked", "YES").End().End();
    s.End().End();
    s.End();
    TErrors errors;
    TNVForm form;
    EXPECT_TRUE(ReadFormStream(s.Bytes, form, &errors).Complete);
    EXPECT_EQ(form.Name, "Outer");
    EXPECT_EQ(form.Message, "hello");
    EXPECT_EQ(form.MinWidth, 400);
    EXPECT_EQ(form.CancelBtn().Caption, "Stop");
    EXPECT_FALSE(form.CancelBtn().Visible);
    ASSERT_EQ(form.Items.size(), 5u);
    EXPECT_EQ(Only(form, "E").Text, "a\r\nb\r\n");
    EXPECT_EQ(Only(form, "E").Lines, 3);
    EXPECT_EQ(Only(form, "C").Kind, TNVItemKind::CheckBox);
    EXPECT_EQ(Only(form, "C").Caption, "box");
    EXPECT_TRUE(Only(form, "C").Checked);
    EXPECT_TRUE(errors.Texts.empty());

    // An unknown value type stops with the message; what came before stays.
    for (uint8_t bad : {uint8_t(18), uint8_t(5), uint8_t(0xAB)}) {
        TStream b;
        b.Object("INVForm", "F").Text("Message", "kept").Short("Timer").Raw({bad, 1, 2, 3, 4});
        TNVForm f;
        TErrors e;
        const TNVStreamResult r = ReadFormStream(b.Bytes, f, &e);
        EXPECT_FALSE(r.Complete);
        EXPECT_EQ(r.BadType, bad);
        EXPECT_EQ(f.Message, "kept");
        ASSERT_EQ(e.Texts.size(), 1u);
        const char* hex = bad == 18 ? "12" : bad == 5 ? "05" : "AB";
        EXPECT_EQ(e.Texts[0],
                  std::string("Internal error: Invalid assistant resource (") + hex + "). | xunExcept");
    }

    // Cut short anywhere, nested too deep, lengths beyond the end, no signature: no crash, no
    // message, the main buttons always there.
    std::vector<std::vector<uint8_t>> hostile;
    const std::vector<uint8_t> contact = CompiledForm("contactform");
    for (size_t n = 0; n < contact.size(); ++n)
        hostile.emplace_back(contact.begin(), contact.begin() + long(n));
    TStream deep;
    for (int i = 0; i < 5000; ++i)
        deep.Object("INVLabel", "L").End();
    hostile.push_back(deep.Bytes);
    hostile.push_back(
        TStream().Object("INVForm", "F").Short("Message").Raw({12, 0xFF, 0xFF, 0xFF, 0xFF}).Bytes);
    hostile.push_back({'T', 'P', 'F'});
    hostile.push_back({'X', 'P', 'F', '0', 1, 'A', 1, 'B', 0, 0});
    for (const auto& data : hostile) {
        TNVForm f;
        TErrors e;
        EXPECT_FALSE(ReadFormStream(data, f, &e).Complete);
        EXPECT_TRUE(e.Texts.empty());
        EXPECT_GE(f.Items.size(), 3u);
        EXPECT_EQ(f.Items[0].Name, "ContinueBtn");
    }
}

TEST(AssistantForm, LayoutNumbers) {
    TNVForm contact;
    ReadFormStream(CompiledForm("contactform"), contact, nullptr);
    contact.Count = 3;
    LayoutForm(contact, FakeEnv());
    EXPECT_EQ(contact.Width, 315);
    // Head labels get 4 below, a change of kind 12, the last check box its own 8.
    EXPECT_EQ(Only(contact, "NameLbl").Rect, (TNVRect{21, 40, 269, 13}));
    EXPECT_EQ(Only(contact, "NameEdit").Rect, (TNVRect{21, 57, 269, 15}));
    EXPECT_EQ(Only(contact, "EmailLbl").Rect, (TNVRect{21, 84, 269, 13}));
    EXPECT_EQ(Only(contact, "EmailEdit").Rect, (TNVRect{21, 101, 269, 15}));
    EXPECT_EQ(Only(contact, "MemCheck").Rect, (TNVRect{21, 128, 66 + 13 + 8, 13}));
    EXPECT_EQ(contact.Height, 149 + 32 + 33);
    EXPECT_EQ(contact.ContinueBtn().Rect, (TNVRect{8, 173, 85, 32}));
    EXPECT_EQ(contact.SkipBtn().Rect, (TNVRect{101, 173, 85, 32}));
    EXPECT_EQ(contact.CancelBtn().Rect, (TNVRect{222, 173, 85, 32}));

    // Plain buttons without skip sit at the right; a long message widens the form.
    TNVForm plain;
    plain.Message = std::string(40, 'M');
    plain.Count = 2;
    plain.ContinueBtn().NoOwnerDraw = plain.CancelBtn().NoOwnerDraw = true;
    plain.ContinueBtn().Caption = "OK";
    plain.CancelBtn().Caption = std::string(12, 'c');
    plain.SkipBtn().Visible = false;
    TNVItem& label = plain.AddItem(TNVItemKind::Label, "Long");
    label.Caption = std::string(100, 'x');
    label.Spacing = 5;
    TNVItem& image = plain.AddItem(TNVItemKind::Image, "Img");
    image.Clickable = image.Border = true;
    TNVItem& button = plain.AddItem(TNVItemKind::Button, "More");
    button.Caption = "Details";
    TNVItem& edit = plain.AddItem(TNVItemKind::Edit, "Memo");
    edit.Lines = 4;
    LayoutForm(plain, FakeEnv());
    EXPECT_EQ(plain.Width, 40 * 8 + 19 * 2 + 36);
    const int w = plain.Width;
    EXPECT_EQ(plain.CancelBtn().Rect, (TNVRect{w - 8 - 92, plain.Height - 9 - 23, 92, 23}));
    EXPECT_EQ(plain.ContinueBtn().Rect, (TNVRect{w - 8 - 92 - 8 - 75, plain.Height - 9 - 23, 75, 23}));
    const int wrapLines = (600 + (w - 46) - 1) / (w - 46);
    EXPECT_EQ(label.Rect, (TNVRect{21, 40, w - 46, 13 * wrapLines}));
    // The picture shrinks to width - 42 - 8 with its proportions, then the frame's 8.
    const int pw = w - 42 - 8, ph = pw * 600 / 1000;
    EXPECT_EQ(image.Rect, (TNVRect{21, label.Rect.Bottom() + 5 + 12, pw + 8, ph + 8}));
    EXPECT_EQ(ImagePictureRect(image), (TNVRect{25, image.Rect.Top + 4, pw, ph}));
    EXPECT_EQ(button.Rect, (TNVRect{21, image.Rect.Bottom() + 12, 74, 23}));
    EXPECT_EQ(edit.Rect, (TNVRect{21, button.Rect.Bottom() + 12, w - 46, 4 * 13 + 2}));
    EXPECT_EQ(plain.Height, edit.Rect.Bottom() + 6 + 23 + 33);

    // A tall picture is held to a third of the screen.
    TNVForm tall;
    TNVItem& picture = tall.AddItem(TNVItemKind::Image, "P");
    picture.Width = 100;
    picture.Height = 900;
    LayoutForm(tall, FakeEnv());
    EXPECT_EQ(picture.Rect.Height, 256);
    EXPECT_EQ(picture.Rect.Width, 100 * 256 / 900);
}

TEST(AssistantForm, EmailPlausibility) {
    const std::pair<const char*, bool> table[] = {
        {"anna@example.de", true},
        {"a.b+c_d-e'f@mail.example.co.uk", true},
        {"x@y.z", true},
        {"", false},
        {" anna@example.de", false},
        {"anna@example.de ", false},
        {"anna@example", false},     // no dot after the at sign
        {"@example.de", false},      // at sign first
        {".anna@example.de", false}, // begins with a dot
        {"anna@example.de.", false}, // ends with a dot
        {"anna@.example.de", false}, // dot right after the at sign
        {"an@na@example.de", false}, // two at signs
        {"anna@exa mple.de", false}, // a blank inside
        {"anna!@example.de", false}, // a character outside the rule
        {"anna@@example.de", false},
        {"an.na@exampl\xC3\xA4.de", false}, // letters beyond ASCII are not in the rule
    };
    for (auto [address, plausible] : table)
        EXPECT_EQ(IsPlausibleEmail(address), plausible) << address;
}

TEST(AssistantForm, BuildContinueRuleCacheAndReport) {
    std::vector<std::string> fired;
    EXPECT_FALSE(ShippedAssistant("Missing", false, nullptr));
    EXPECT_FALSE(ShippedAssistant("Late", false, nullptr));
    TRef<TNVAssistant> tail = ShippedAssistant("tail", false, nullptr);
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->Forms[0]->Items.size(), 3u); // no resource: the main buttons only
    TRef<TNVAssistant> send = ShippedAssistant("sendassistant", false, &fired);
    ASSERT_TRUE(send);
    EXPECT_EQ(send->Title, "Send Assistant");
    ASSERT_EQ(send->Forms.size(), 3u);
    EXPECT_EQ(fired, (std::vector<std::string>{"xunExcept.HandleContactForm ContactForm 0",
                                               "xunExcept.HandleScreenshotForm ScrShotForm 0"}));
    TRef<TNVAssistant> noShot = ShippedAssistant("SendAssistant", true, nullptr);
    ASSERT_EQ(noShot->Forms.size(), 2u);
    EXPECT_EQ(noShot->Forms[1]->Name, "DetailsForm");
    EXPECT_EQ(noShot->Forms[1]->Position, 2);
    EXPECT_EQ(noShot->Forms[1]->Count, 2);
    EXPECT_EQ(noShot->Forms[0]->Title, "Send Assistant");

    // Continue stays off while a required edit is empty or invalid; focus goes past it.
    TNVForm& contact = *send->Forms[0];
    TNVItem& name = Only(contact, "NameEdit");
    TNVItem& email = Only(contact, "EmailEdit");
    EXPECT_TRUE(contact.UpdateContinue());
    EXPECT_TRUE(contact.ContinueBtn().ForcedDisabled);
    contact.ActiveControl = "ContinueBtn";
    EXPECT_EQ(contact.FirstFocus(), &name);
    email.Text = "anna@example.de";
    email.Valid = false;
    contact.UpdateContinue();
    EXPECT_TRUE(contact.ContinueBtn().ForcedDisabled);
    email.Valid = true;
    contact.UpdateContinue();
    EXPECT_FALSE(contact.ContinueBtn().ForcedDisabled);
    EXPECT_EQ(contact.FirstFocus(), &contact.ContinueBtn());

    // Into the report: continued forms only, header fields at the fixed insertion index (so the
    // later one stands above the earlier), sections at the end.
    name.Text = "Anna";
    Only(contact, "MemCheck").OutputName = "remember";
    contact.ModalResult = NVContinue;
    send->Forms[1]->ModalResult = NVSkip;
    Only(*send->Forms[1], "DetailsMemo").Text = "skipped";
    send->Forms[2]->ModalResult = NVContinue;
    auto header = MakeRef<TIMEFields>(), sections = MakeRef<TIMEFields>();
    header->Add("date/time", "now");
    header->Add("callstack crc", "1");
    header->Add("exception number", "7");
    header->SetInsertIndex(1);
    sections->Add("main thread ($A1C):", "stack");
    PutAssistantIntoReport(*send, *header, *sections);
    auto names = [](IMEFields& f) {
        std::vector<std::string> out;
        for (int i = 0; i < f.ItemCount(); ++i)
            out.push_back(f.ItemName(i) + "=" + f.ItemContents(i));
        return out;
    };
    EXPECT_EQ(names(*header),
              (std::vector<std::string>{"date/time=now", "remember=no", "contact email=anna@example.de",
                                        "contact name=Anna", "callstack crc=1", "exception number=7"}));
    EXPECT_EQ(names(*sections), (std::vector<std::string>{"main thread ($A1C):=stack"}));
    send->Forms[1]->ModalResult = NVContinue;
    Only(*send->Forms[1], "DetailsMemo").Text = "I pressed\r\nsave";
    PutAssistantIntoReport(*send, *header, *sections);
    EXPECT_EQ(sections->Contents("error details"), "I pressed\r\nsave");
    EXPECT_EQ(header->ItemCount(), 6);

    // The cache: what continued forms held comes back in the next assistant; a form complete
    // from the cache focuses continue, one with a gap does not.
    TFormCache cache;
    send->Forms[1]->ModalResult = NVSkip;
    Only(*send->Forms[2], "AttachCheck").Checked = false;
    cache.Fill(*send);
    TRef<TNVAssistant> again = ShippedAssistant("SendAssistant", false, nullptr);
    cache.Read(*again);
    EXPECT_EQ(Only(*again->Forms[0], "NameEdit").Text, "Anna");
    EXPECT_EQ(Only(*again->Forms[0], "EmailEdit").Text, "anna@example.de");
    EXPECT_FALSE(Only(*again->Forms[0], "MemCheck").Checked);
    EXPECT_EQ(again->Forms[0]->ActiveControl, "ContinueBtn");
    EXPECT_EQ(Only(*again->Forms[1], "DetailsMemo").Text, "");
    EXPECT_EQ(again->Forms[1]->ActiveControl, "");
    EXPECT_FALSE(Only(*again->Forms[2], "AttachCheck").Checked);
    std::string value;
    EXPECT_TRUE(cache.Find("attachcheck", value));
    EXPECT_EQ(value, "-");
}
