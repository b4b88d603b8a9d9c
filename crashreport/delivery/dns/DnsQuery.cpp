#include "crashreport/delivery/dns/DnsQuery.h"

TDnsQuery::TDnsQuery(std::string_view name, uint16_t type, uint16_t id) {
    BuildDnsQuery(name, type, id, FQuery);
}

void TDnsQuery::Sent(size_t successfulSends) {
    FOutstanding = FQuery.empty() ? 0 : successfulSends;
}

void TDnsQuery::Received(const uint8_t* data, size_t size) {
    if (!Waiting()) return;
    --FOutstanding;
    TDnsReply reply = ParseDnsReply(FQuery, data, size);
    if (reply.Answers.empty() && reply.Authority.empty()) return;
    FAnswers = std::move(reply.Answers);
    FAuthority = std::move(reply.Authority);
    FDone = true;
}

void TDnsQuery::TimedOut() {
    FDone = true;
}
