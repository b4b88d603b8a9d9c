#include "crashreport/settings/SettingsStream.h"

#include <cstring>

namespace {

const uint8_t StreamSignature[25] = {'T', 'P', 'F', '0', 10,  'T', 'X', 'u', 'n', 'E', 'x', 'c', 'e',
                                     'p', 't', 9,   'x', 'u', 'n', 'E', 'x', 'c', 'e', 'p', 't'};

// The code points of bytes 0x80..0x9F; 0 marks the five bytes the code page leaves undefined.
const char16_t Cp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                 0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Bounds-checked cursor over the stream; every read fails rather than run past the end.
class TCursor {
public:
    explicit TCursor(std::span<const uint8_t> data) : FData(data) {}

    size_t Left() const { return FData.size() - FPos; }

    bool Byte(uint8_t& v) {
        if (Left() < 1) return false;
        v = FData[FPos++];
        return true;
    }
    bool Int(size_t bytes, int32_t& v) {
        if (Left() < bytes) return false;
        uint32_t u = 0;
        for (size_t i = 0; i < bytes; ++i)
            u |= uint32_t(FData[FPos + i]) << (8 * i);
        FPos += bytes;
        // Sign-extend the narrow types.
        if (bytes == 1)
            v = static_cast<int8_t>(u);
        else if (bytes == 2)
            v = static_cast<int16_t>(u);
        else
            v = static_cast<int32_t>(u);
        return true;
    }
    bool Chars(uint64_t count, std::string& out) {
        if (count > Left()) return false;
        out.assign(reinterpret_cast<const char*>(FData.data() + FPos), static_cast<size_t>(count));
        FPos += static_cast<size_t>(count);
        return true;
    }
    bool WideChars(uint64_t count, std::string& out) {
        if (count > Left() / 2) return false;
        std::u16string wide(static_cast<size_t>(count), u'\0');
        for (size_t i = 0; i < wide.size(); ++i)
            wide[i] = static_cast<char16_t>(FData[FPos + 2 * i] | (FData[FPos + 2 * i + 1] << 8));
        FPos += 2 * wide.size();
        out = Utf16ToCp1252(wide);
        return true;
    }
    bool ShortString(std::string& out) {
        uint8_t len = 0;
        return Byte(len) && Chars(len, out);
    }

private:
    std::span<const uint8_t> FData;
    size_t FPos = 0;
};

std::string HexByte(uint8_t v) {
    const char* digits = "0123456789ABCDEF";
    return {digits[v >> 4], digits[v & 15]};
}

} // namespace

TPropEntry TPropEntry::MakeBool(std::string name, bool value) {
    TPropEntry e;
    e.Name = std::move(name);
    e.Kind = TPropKind::Bool;
    e.BoolValue = value;
    e.IntValue = value ? 1 : 0;
    return e;
}

TPropEntry TPropEntry::MakeInt(std::string name, int32_t value) {
    TPropEntry e;
    e.Name = std::move(name);
    e.Kind = TPropKind::Int;
    e.BoolValue = value != 0;
    e.IntValue = value;
    return e;
}

TPropEntry TPropEntry::MakeText(std::string name, std::string value) {
    TPropEntry e;
    e.Name = std::move(name);
    e.Kind = TPropKind::Text;
    e.TextValue = std::move(value);
    return e;
}

std::span<const uint8_t> SettingsStreamSignature() {
    return StreamSignature;
}

TSettingsStreamResult ReadSettingsStream(std::span<const uint8_t> data, std::vector<TPropEntry>& props,
                                         IInternalErrorSink* errors) {
    TSettingsStreamResult result;
    if (data.size() < sizeof StreamSignature ||
        std::memcmp(data.data(), StreamSignature, sizeof StreamSignature) != 0)
        return result;
    result.Valid = true;
    TCursor in(data.subspan(sizeof StreamSignature));
    for (;;) {
        uint8_t nameLen = 0;
        if (!in.Byte(nameLen)) return result;
        if (nameLen == 0) break;
        std::string name;
        uint8_t type = 0;
        if (!in.Chars(nameLen, name) || !in.Byte(type)) return result;
        int32_t i = 0;
        std::string text;
        switch (type) {
        case vaInt8:
        case vaInt16:
        case vaInt32:
            if (!in.Int(type == vaInt8 ? 1 : type == vaInt16 ? 2 : 4, i)) return result;
            props.push_back(TPropEntry::MakeInt(std::move(name), i));
            break;
        case vaFalse:
        case vaTrue:
            props.push_back(TPropEntry::MakeBool(std::move(name), type == vaTrue));
            break;
        case vaString:
            if (!in.ShortString(text)) return result;
            props.push_back(TPropEntry::MakeText(std::move(name), std::move(text)));
            break;
        case vaLString:
        case vaWString:
            if (!in.Int(4, i)) return result;
            if (!(type == vaLString ? in.Chars(uint32_t(i), text) : in.WideChars(uint32_t(i), text)))
                return result;
            props.push_back(TPropEntry::MakeText(std::move(name), std::move(text)));
            break;
        default:
            if (errors)
                errors->ShowInternalError(
                    "Internal error: Invalid settings resource ($" + HexByte(type) + ").", "xunExcept");
            return result;
        }
    }
    result.Complete = true;
    return result;
}

std::string Utf16ToCp1252(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char16_t c = s[i];
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        char mapped = '?';
        for (int k = 0; k < 32; ++k) {
            if (Cp1252High[k] != 0 && Cp1252High[k] == c) {
                mapped = static_cast<char>(0x80 + k);
                break;
            }
        }
        // A surrogate pair is one character, so one '?'.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) ++i;
        out.push_back(mapped);
    }
    return out;
}

std::string Cp1252ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char ch : s) {
        unsigned char b = static_cast<unsigned char>(ch);
        uint32_t cp = b;
        if (b >= 0x80 && b <= 0x9F) cp = Cp1252High[b - 0x80] ? Cp1252High[b - 0x80] : 0xFFFD;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}
