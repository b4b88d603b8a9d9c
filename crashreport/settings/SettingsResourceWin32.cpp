// Where the settings come from and where their errors go: the module's resource, message boxes.
#include "crashreport/base/ModulesWin32.h"
#include "crashreport/settings/SettingsWin32.h"
#include "framework/Strings.h"
#include "framework/Win32Util.h"

namespace {

class TMessageBoxSink : public IInternalErrorSink {
public:
    void ShowInternalError(std::string_view text, std::string_view caption) override {
        ::MessageBoxW(nullptr, Widen(Cp1252ToUtf8(text)).c_str(), Widen(Cp1252ToUtf8(caption)).c_str(),
                      MB_OK | MB_ICONERROR | MB_TASKMODAL);
    }
};

} // namespace

IInternalErrorSink& MessageBoxErrorSink() {
    static TMessageBoxSink sink;
    return sink;
}

bool HasSettingsResource(HMODULE module) {
    return module && ::FindResourceW(module, L"TXUNEXCEPT", MAKEINTRESOURCEW(10)) != nullptr;
}

bool LoadSettingsResource(HMODULE module, std::vector<uint8_t>& data) {
    if (!HasSettingsResource(module)) return false;
    std::span<const uint8_t> bytes = ResourceBytes(module, L"TXUNEXCEPT", MAKEINTRESOURCEW(10));
    data.assign(bytes.begin(), bytes.end());
    return bytes.data() != nullptr;
}
