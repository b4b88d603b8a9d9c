// The assistant form reader on arbitrary bytes, then the layout and the rules over what it read.
// The signature is put in front of half of the inputs so the object reader gets most of the work.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crashreport/ui/AssistantForm.h"

namespace {

class TQuietSink : public IInternalErrorSink {
public:
    void ShowInternalError(std::string_view, std::string_view) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> stream;
    if (size > 0 && (data[0] & 1)) {
        stream = {'T', 'P', 'F', '0'};
        ++data;
        --size;
    }
    stream.insert(stream.end(), data, data + size);

    TQuietSink sink;
    TNVForm form;
    ReadFormStream(stream, form, &sink);
    form.UpdateContinue();
    (void)form.FirstFocus();
    TNVLayoutEnv env;
    env.MeasureText = [](TNVFont, std::string_view text, int wrap) {
        const int w = int(text.size()) * 7;
        return wrap > 0 && w > wrap ? TNVSize{wrap, (w / wrap + 1) * 13} : TNVSize{w, 13};
    };
    LayoutForm(form, env);
    for (const TNVItem& item : form.Items)
        (void)IsPlausibleEmail(item.Text);
    return 0;
}
