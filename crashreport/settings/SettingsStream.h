#pragma once
// Reader of the settings resource "TXUNEXCEPT": a binary component stream holding one object of
// class TXunExcept named xunExcept whose properties are the crash reporter's settings.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class TPropKind : uint8_t { Text = 0, Int = 1, Bool = 2 };

// One named property. Integer and boolean values are kept in step (an integer is true when not 0,
// a boolean is 0 or 1), so a property reads sensibly whichever typed read asks for it.
struct TPropEntry {
    std::string Name;
    TPropKind Kind = TPropKind::Text;
    bool BoolValue = false;
    int32_t IntValue = 0;
    std::string TextValue; // single-byte code page (Windows-1252)

    static TPropEntry MakeBool(std::string name, bool value);
    static TPropEntry MakeInt(std::string name, int32_t value);
    static TPropEntry MakeText(std::string name, std::string value);
};

// Where the crash reporter's internal errors go: a message box in the program, a list in tests.
class IInternalErrorSink {
public:
    virtual void ShowInternalError(std::string_view text, std::string_view caption) = 0;

protected:
    ~IInternalErrorSink() = default;
};

// Value types of the component stream that the settings reader understands.
enum : uint8_t {
    vaInt8 = 2,
    vaInt16 = 3,
    vaInt32 = 4,
    vaString = 6,
    vaIdent = 7,
    vaFalse = 8,
    vaTrue = 9,
    vaLString = 12,
    vaWString = 18,
};

struct TSettingsStreamResult {
    bool Valid = false;    // the signature matched
    bool Complete = false; // reading ended at the closing zero byte
};

// Appends the stream's properties to props in stream order. An unknown value type stops reading
// with the internal-error message; a stream cut short stops silently. Either way the properties
// read before stay.
TSettingsStreamResult ReadSettingsStream(std::span<const uint8_t> data, std::vector<TPropEntry>& props,
                                         IInternalErrorSink* errors);

// The 25 bytes every settings resource starts with.
std::span<const uint8_t> SettingsStreamSignature();

// UTF-16 to Windows-1252; characters the code page lacks become '?'.
std::string Utf16ToCp1252(std::u16string_view s);
// Windows-1252 to UTF-8, for the parts of the program that keep UTF-8 text.
std::string Cp1252ToUtf8(std::string_view s);
