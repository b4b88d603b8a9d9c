#pragma once
// One DnsQuery (name, servers, type) without I/O: the caller sends Datagram() to port 53 of
// every server, tells how many sends succeeded, then, while Waiting(), waits up to
// DnsReplyWaitSeconds for a datagram of up to DnsReplySize bytes and hands it to Received (or
// calls TimedOut when none came or the receive failed).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/delivery/dns/DnsMessage.h"

class TDnsQuery {
public:
    // `id` should be unpredictable: a forged reply must guess it.
    TDnsQuery(std::string_view name, uint16_t type, uint16_t id);

    // Empty when the name cannot be asked: then there is nothing to send and no answer.
    const std::vector<uint8_t>& Datagram() const { return FQuery; }
    void Sent(size_t successfulSends);

    bool Waiting() const { return !FDone && FOutstanding > 0; }
    // Every datagram counts as one of the awaited replies, also one that is not ours: a flood
    // of foreign datagrams ends the wait instead of prolonging it.
    void Received(const uint8_t* data, size_t size);
    void TimedOut();

    // From the first reply that held any name.
    const std::vector<std::string>& Answers() const { return FAnswers; }
    const std::vector<std::string>& Authority() const { return FAuthority; }

private:
    std::vector<uint8_t> FQuery;
    size_t FOutstanding = 0;
    bool FDone = false;
    std::vector<std::string> FAnswers, FAuthority;
};
