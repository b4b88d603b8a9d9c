#pragma once
// DNS messages (RFC 1035) for the resolver of direct delivery: the query for the mail
// exchangers (MX) or name servers (NS) of a domain, and the reading of a reply to it. Replies
// come from the network and are read as hostile: whatever the bytes, the result is a defined
// list of names or none.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr uint16_t DnsTypeMx = 15;
inline constexpr uint16_t DnsTypeNs = 2;
inline constexpr uint16_t DnsPort = 53;
inline constexpr size_t DnsReplySize = 512; // per datagram received
inline constexpr int DnsReplyWaitSeconds = 5;
// Names taken from one reply: more than a 512-byte datagram holds in practice, and a bound on
// how many servers one reply can make us ask next.
inline constexpr size_t DnsMaxNames = 16;

// The query: the identifier, only the recursion-desired flag, one question of class IN. False,
// and `query` empty, for a name that DNS cannot carry (an empty label, a label over 63 bytes,
// more than 255 bytes in all). One trailing dot is allowed.
bool BuildDnsQuery(std::string_view name, uint16_t type, uint16_t id, std::vector<uint8_t>& query);

struct TDnsReply {
    bool Answered = false; // a reply to the query with response code 0, read to its end
    // Host names from the answer section records of the query's type; MX by lowest preference
    // first, equal preferences in the order of the reply.
    std::vector<std::string> Answers;
    // For NS queries: the name servers of the authority section.
    std::vector<std::string> Authority;
};

// Reads `reply` as the answer to `query`. A reply with another identifier or question, an error
// code, or one that is malformed (names looping or longer than 255 bytes, counts running past
// the datagram, records cut off) gives Answered false and no names; a reply marked truncated
// gives the records that arrived whole.
TDnsReply ParseDnsReply(const std::vector<uint8_t>& query, const uint8_t* reply, size_t size);
