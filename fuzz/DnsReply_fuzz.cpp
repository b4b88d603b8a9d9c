// DNS replies: any datagram, read as the answer to an MX or NS query, gives only host names of
// at most 253 characters, no more than DnsMaxNames of them, and never faults or hangs.
#include "crashreport/delivery/dns/DnsQuery.h"

#include <cstdlib>
#include <cstring>

namespace {

void Check(const TDnsReply& r) {
    if (r.Answers.size() > DnsMaxNames || r.Authority.size() > DnsMaxNames) std::abort();
    if (!r.Answered && (!r.Answers.empty() || !r.Authority.empty())) std::abort();
    for (const auto* list : {&r.Answers, &r.Authority})
        for (const std::string& name : *list)
            if (name.empty() || name.size() > 253 ||
                name.find_first_of(std::string("\r\n\0 ", 4)) != std::string::npos)
                std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (uint16_t type : {DnsTypeMx, DnsTypeNs}) {
        std::vector<uint8_t> query;
        // The id and the question of the fixed query are what the fuzzer has to find; a
        // copy of the datagram's own question gets it past those checks at once.
        BuildDnsQuery("mail.example.org", type, size >= 2 ? uint16_t(data[0] << 8 | data[1]) : 0, query);
        Check(ParseDnsReply(query, data, size));
        if (size >= query.size()) {
            std::vector<uint8_t> echoed(data, data + size);
            std::memcpy(echoed.data() + 4, query.data() + 4, 2);
            std::memcpy(echoed.data() + 12, query.data() + 12, query.size() - 12);
            Check(ParseDnsReply(query, echoed.data(), echoed.size()));
        }
    }
    TDnsQuery q("example.org", DnsTypeNs, 1);
    q.Sent(1);
    q.Received(data, size);
    if (q.Waiting()) std::abort();
    return 0;
}
