#include "crashreport/delivery/dns/DnsMessage.h"

#include <algorithm>

namespace {

constexpr size_t HeaderSize = 12;
constexpr size_t MaxNameWire = 255;

uint16_t Get16(const uint8_t* p) {
    return uint16_t(p[0] << 8 | p[1]);
}

void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

class TReader {
public:
    TReader(const uint8_t* data, size_t size) : Data(data), Size(size) {}

    // The name at `pos`, labels joined by dots; `pos` moves past the name's bytes in place.
    // `limit` bounds those bytes (a name inside record data must not run out of it).
    bool Name(size_t& pos, size_t limit, std::string& name) const {
        name.clear();
        size_t at = pos, wire = 1, segment = pos;
        bool jumped = false;
        for (int jumps = 0;;) {
            if (at >= (jumped ? Size : limit)) return false;
            const uint8_t len = Data[at];
            if (len == 0) {
                if (!jumped) pos = at + 1;
                return true;
            }
            if ((len & 0xC0) == 0xC0) {
                if (at + 1 >= (jumped ? Size : limit)) return false;
                const size_t target = size_t(len & 0x3F) << 8 | Data[at + 1];
                // Each jump must land before the piece it came from, so jumps cannot cycle.
                if (target >= segment || ++jumps > 64) return false;
                if (!jumped) pos = at + 2;
                jumped = true;
                at = segment = target;
                continue;
            }
            if (len & 0xC0) return false; // label types nobody uses
            if (at + 1 + len > (jumped ? Size : limit)) return false;
            wire += 1 + len;
            if (wire > MaxNameWire) return false;
            if (!name.empty()) name += '.';
            name.append(reinterpret_cast<const char*>(Data + at + 1), len);
            at += 1 + len;
        }
    }

    const uint8_t* Data;
    size_t Size;
};

// Letters, digits, "-" and "_" in non-empty labels: a name we may hand on to a connect.
bool IsHostName(const std::string& name) {
    if (name.empty()) return false;
    size_t label = 0;
    for (char c : name) {
        if (c == '.') {
            if (label == 0) return false;
            label = 0;
            continue;
        }
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
              c == '_'))
            return false;
        ++label;
    }
    return label > 0;
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

struct TRecord {
    uint16_t Type = 0, Class = 0;
    size_t Data = 0, Length = 0;
};

bool ReadRecord(const TReader& r, size_t& pos, TRecord& rec) {
    std::string owner;
    if (!r.Name(pos, r.Size, owner) || pos + 10 > r.Size) return false;
    rec.Type = Get16(r.Data + pos);
    rec.Class = Get16(r.Data + pos + 2);
    rec.Length = Get16(r.Data + pos + 8);
    rec.Data = pos + 10;
    if (rec.Data + rec.Length > r.Size) return false;
    pos = rec.Data + rec.Length;
    return true;
}

} // namespace

bool BuildDnsQuery(std::string_view name, uint16_t type, uint16_t id, std::vector<uint8_t>& query) {
    query.clear();
    if (!name.empty() && name.back() == '.') name.remove_suffix(1);
    if (name.empty() || name.size() + 2 > MaxNameWire) return false;
    Put16(query, id);
    Put16(query, 0x0100); // recursion desired
    Put16(query, 1);      // one question
    for (int i = 0; i < 3; ++i)
        Put16(query, 0);
    size_t at = 0;
    while (at <= name.size()) {
        size_t end = name.find('.', at);
        if (end == std::string_view::npos) end = name.size();
        const size_t len = end - at;
        if (len == 0 || len > 63) {
            query.clear();
            return false;
        }
        query.push_back(uint8_t(len));
        query.insert(query.end(), name.begin() + at, name.begin() + end);
        at = end + 1;
    }
    query.push_back(0);
    Put16(query, type);
    Put16(query, 1); // class IN
    return true;
}

TDnsReply ParseDnsReply(const std::vector<uint8_t>& query, const uint8_t* reply, size_t size) {
    TDnsReply none;
    if (query.size() < HeaderSize + 5 || size < HeaderSize) return none;
    const TReader q(query.data(), query.size()), r(reply, size);
    const bool isReply = reply[2] & 0x80, truncated = reply[2] & 0x02;
    if (Get16(reply) != Get16(query.data()) || !isReply || (reply[3] & 0x0F) != 0 || Get16(reply + 4) != 1)
        return none;

    // The question must be ours: a stray or forged reply to another name is no answer.
    size_t qpos = HeaderSize, rpos = HeaderSize;
    std::string asked, echoed;
    if (!q.Name(qpos, q.Size, asked) || !r.Name(rpos, r.Size, echoed) || !SameName(asked, echoed) ||
        qpos + 4 > q.Size || rpos + 4 > size || Get16(query.data() + qpos) != Get16(reply + rpos) ||
        Get16(query.data() + qpos + 2) != Get16(reply + rpos + 2))
        return none;
    const uint16_t type = Get16(query.data() + qpos);
    rpos += 4;

    struct TFound {
        uint16_t Preference;
        std::string Name;
    };
    std::vector<TFound> answers, authority;
    const uint16_t counts[2] = {Get16(reply + 6), Get16(reply + 8)};
    bool cut = false;
    for (int section = 0; section < 2 && !cut; ++section) {
        std::vector<TFound>& into = section == 0 ? answers : authority;
        for (uint32_t i = 0; i < counts[section]; ++i) {
            TRecord rec;
            if (!ReadRecord(r, rpos, rec)) {
                if (!truncated) return none;
                cut = true;
                break;
            }
            const uint16_t wanted = section == 0 ? type : DnsTypeNs;
            if (rec.Type != wanted || rec.Class != 1 || (section == 1 && type != DnsTypeNs)) continue;
            size_t at = rec.Data;
            uint16_t preference = 0;
            if (rec.Type == DnsTypeMx) {
                if (rec.Length < 3) return none;
                preference = Get16(reply + at);
                at += 2;
            }
            TFound found{preference, {}};
            if (!r.Name(at, rec.Data + rec.Length, found.Name) || at != rec.Data + rec.Length) return none;
            // A null MX (".") and names that are no host names are not offered onward.
            if (IsHostName(found.Name) && into.size() < DnsMaxNames) into.push_back(std::move(found));
        }
    }
    std::stable_sort(answers.begin(), answers.end(),
                     [](const TFound& a, const TFound& b) { return a.Preference < b.Preference; });
    TDnsReply result;
    result.Answered = true;
    for (TFound& f : answers)
        result.Answers.push_back(std::move(f.Name));
    for (TFound& f : authority)
        result.Authority.push_back(std::move(f.Name));
    return result;
}
