// The settings resource reader and the lookups over what it read, on arbitrary bytes. The
// signature is put in front of half of the inputs so the property reader gets most of the work.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crashreport/settings/Settings.h"

namespace {

class TQuietSink : public IInternalErrorSink {
public:
    void ShowInternalError(std::string_view, std::string_view) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> stream;
    if (size > 0 && (data[0] & 1)) {
        auto sig = SettingsStreamSignature();
        stream.assign(sig.begin(), sig.end());
        ++data;
        --size;
    }
    stream.insert(stream.end(), data, data + size);

    TQuietSink sink;
    auto settings = MakeRef<TIMESettings>(
        [&stream](std::vector<uint8_t>& out) {
            out = stream;
            return true;
        },
        &sink, nullptr);
    auto exception = MakeRef<TSettingsOverlay<>>(TRef<IMESettings>(settings));
    for (const TBuiltInProperty& p : BuiltInProperties()) {
        (void)exception->ReadBool(p.Name);
        (void)exception->ReadInt(p.Name);
        (void)exception->ReadText(p.Name);
    }
    return 0;
}
