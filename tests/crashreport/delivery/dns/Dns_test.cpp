#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crashreport/delivery/dns/DnsQuery.h"
#include "crashreport/delivery/dns/MailExchanger.h"

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string s;
    for (const std::string& n : names)
        s += (s.empty() ? "" : ",") + n;
    return s;
}

// Made with Python's struct module as servers send them. The reply of a recursive resolver for
// MX of mail.example.co.uk, id 0x4A21: preference 20 mx2, a CNAME record, preference 10 mx1,
// owners and targets compressed.
const std::string MxReplyHex = "4a2181800001000300000000046d61696c076578616d706c6502636f02756b00000f0001"
                               "c00c000f000100000e1000080014036d7832c011"
                               "c00c0005000100000e1000060363646ec011"
                               "c00c000f000100000e100008000a036d7831c011";
// A root server's referral for NS of example.org, id 1: two .org servers in the authority
// section (the second name compressed into the first), their addresses as additional records.
const std::string ReferralHex = "000180000001000000020002076578616d706c65036f72670000020001"
                                "c014000200010002a3000015026130036f72670b6166696c6961732d6e7374c014"
                                "c014000200010002a3000005026230c02c"
                                "c0290001000100000e100004c7133801c0290001000100000e100004c7133601";

std::vector<uint8_t> Query(const char* name, uint16_t type, uint16_t id) {
    std::vector<uint8_t> q;
    EXPECT_TRUE(BuildDnsQuery(name, type, id, q)) << name;
    return q;
}

TDnsReply Parse(const std::vector<uint8_t>& query, const std::vector<uint8_t>& reply) {
    return ParseDnsReply(query, reply.data(), reply.size());
}

TEST(DnsMessage, QueryBytes) {
    std::vector<uint8_t> q;
    ASSERT_TRUE(BuildDnsQuery("mail.example.co.uk", DnsTypeMx, 0x4A21, q));
    EXPECT_EQ(q, FromHex("4a2101000001000000000000046d61696c076578616d706c6502636f02756b00000f0001"));
    EXPECT_EQ(q.size(), 18 + std::string("mail.example.co.uk").size());
    ASSERT_TRUE(BuildDnsQuery("example.org.", DnsTypeNs, 1, q));
    EXPECT_EQ(q, FromHex("00010100000100000000000007"
                         "6578616d706c65036f72670000020001"));
    const std::string label63(63, 'a'), label64(64, 'a');
    EXPECT_TRUE(BuildDnsQuery(label63 + ".org", DnsTypeMx, 1, q));
    std::string longest = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
    EXPECT_TRUE(BuildDnsQuery(longest, DnsTypeMx, 1, q)); // 255 bytes on the wire
    for (const std::string& bad : {std::string(), std::string("."), std::string("a..b"), std::string(".a"),
                                   label64 + ".org", longest + "b"}) {
        EXPECT_FALSE(BuildDnsQuery(bad, DnsTypeMx, 1, q)) << bad;
        EXPECT_TRUE(q.empty());
    }
}

TEST(DnsMessage, RealisticReplies) {
    TDnsReply mx = Parse(Query("mail.example.co.uk", DnsTypeMx, 0x4A21), FromHex(MxReplyHex));
    EXPECT_TRUE(mx.Answered);
    EXPECT_EQ(Joined(mx.Answers), "mx1.example.co.uk,mx2.example.co.uk"); // lowest preference first
    EXPECT_TRUE(mx.Authority.empty());
    // A resolver may echo the question in another case.
    std::vector<uint8_t> upper = FromHex(MxReplyHex);
    upper[13] = 'M';
    EXPECT_EQ(Joined(Parse(Query("mail.example.co.uk", DnsTypeMx, 0x4A21), upper).Answers),
              "mx1.example.co.uk,mx2.example.co.uk");

    TDnsReply ref = Parse(Query("example.org", DnsTypeNs, 1), FromHex(ReferralHex));
    EXPECT_TRUE(ref.Answered);
    EXPECT_TRUE(ref.Answers.empty());
    EXPECT_EQ(Joined(ref.Authority), "a0.org.afilias-nst.org,b0.org.afilias-nst.org");
}

// Changes to the MX reply, each of which must leave no names.
TEST(DnsMessage, HostileRepliesGiveNoAnswer) {
    const std::vector<uint8_t> query = Query("mail.example.co.uk", DnsTypeMx, 0x4A21);
    const std::vector<uint8_t> good = FromHex(MxReplyHex);
    // Offsets in the MX reply: the first answer starts at 36, its data length is at 46, its
    // target "mx2" and the pointer to the domain lie at 50..55.
    struct TCase {
        const char* Name;
        std::vector<std::pair<size_t, uint8_t>> Changes;
        size_t CutTo = SIZE_MAX;
    } cases[] = {
        {"another id", {{1, 0x22}}},
        {"not a reply", {{2, 0x01}}},
        {"name error", {{3, 0x83}}},
        {"two questions", {{5, 2}}},
        {"another question", {{13, 'n'}}},
        {"another question type", {{32, 2}}},
        {"target pointing at itself", {{54, 0xC0}, {55, 54}}},
        {"target pointing forward", {{54, 0xC0}, {55, 70}}},
        {"pointer loop through the owner", {{36, 0xC0}, {37, 54}, {54, 0xC0}, {55, 36}}},
        {"pointer past the datagram", {{54, 0xFF}, {55, 0xFF}}},
        {"label of a reserved type", {{50, 0x43}}},
        {"answer count past the datagram", {{7, 40}}},
        {"record data past the datagram", {{46, 0xFF}}},
        {"MX data too short for its name", {{47, 4}}},
        {"cut in a record", {}, 60},
        {"header only", {}, 11},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<uint8_t> reply = good;
        for (auto [at, value] : c.Changes)
            reply[at] = value;
        reply.resize(std::min(reply.size(), c.CutTo));
        const TDnsReply r = Parse(query, reply);
        EXPECT_FALSE(r.Answered);
        EXPECT_TRUE(r.Answers.empty());
    }
    // Marked truncated, a reply gives the records that arrived whole.
    std::vector<uint8_t> cut = good;
    cut[2] |= 0x02;
    cut[7] = 40;
    EXPECT_EQ(Joined(Parse(query, cut).Answers), "mx1.example.co.uk,mx2.example.co.uk");
    cut.resize(80);
    EXPECT_EQ(Joined(Parse(query, cut).Answers), "mx2.example.co.uk");
}

TEST(DnsMessage, NamesOverLongOrUnfitForAHost) {
    // Three 63-byte labels at the question's place, and a target that adds a fourth through a
    // pointer: 257 bytes, one label too many. A target of exactly 255 bytes is taken.
    const std::string l63(63, 'a');
    const std::string qname = l63 + "." + l63 + "." + l63;
    const std::vector<uint8_t> query = Query(qname.c_str(), DnsTypeMx, 7);
    auto reply = [&](const std::vector<uint8_t>& target) {
        std::vector<uint8_t> r(query);
        r[2] = 0x81;
        r[3] = 0x80;
        r[7] = 1;
        const uint8_t fixed[] = {0xC0, 12, 0, 15, 0, 1, 0, 0, 0, 60, 0, uint8_t(target.size() + 2), 0, 5};
        r.insert(r.end(), std::begin(fixed), std::end(fixed));
        r.insert(r.end(), target.begin(), target.end());
        return r;
    };
    std::vector<uint8_t> tooLong = {62};
    tooLong.insert(tooLong.end(), 62, 'b');
    tooLong.insert(tooLong.end(), {0xC0, 12});
    EXPECT_FALSE(Parse(query, reply(tooLong)).Answered);
    std::vector<uint8_t> longest = {61};
    longest.insert(longest.end(), 61, 'b');
    longest.insert(longest.end(), {0xC0, 12});
    EXPECT_EQ(Parse(query, reply(longest)).Answers.at(0).size(), 253u);

    // A null MX (".") and a name no host can have are left out; the reply itself is fine.
    for (const std::vector<uint8_t>& target :
         {std::vector<uint8_t>{0}, std::vector<uint8_t>{4, 'm', 'x', '\r', '\n', 0},
          std::vector<uint8_t>{2, 'm', 'x', 0, 0}}) {
        const TDnsReply r = Parse(query, reply(target));
        EXPECT_EQ(r.Answered, target.size() != 5) << target.size();
        EXPECT_TRUE(r.Answers.empty());
    }
}

TEST(DnsQuery, WaitsForTheFirstReplyWithNames) {
    TDnsQuery q("mail.example.co.uk", DnsTypeMx, 0x4A21);
    ASSERT_FALSE(q.Datagram().empty());
    q.Sent(3);
    EXPECT_TRUE(q.Waiting());
    std::vector<uint8_t> failed = FromHex(MxReplyHex);
    failed[3] = 0x82; // server failure
    q.Received(failed.data(), failed.size());
    const uint8_t junk[] = {1, 2, 3};
    q.Received(junk, sizeof junk);
    EXPECT_TRUE(q.Waiting());
    const std::vector<uint8_t> good = FromHex(MxReplyHex);
    q.Received(good.data(), good.size());
    EXPECT_FALSE(q.Waiting());
    EXPECT_EQ(Joined(q.Answers()), "mx1.example.co.uk,mx2.example.co.uk");

    TDnsQuery none("example.org", DnsTypeMx, 1);
    none.Sent(2);
    none.Received(junk, sizeof junk);
    none.Received(junk, sizeof junk);
    EXPECT_FALSE(none.Waiting()); // every send answered, however badly
    TDnsQuery silent("example.org", DnsTypeMx, 1);
    silent.Sent(2);
    silent.TimedOut();
    EXPECT_FALSE(silent.Waiting());
    TDnsQuery unsendable("a..b", DnsTypeMx, 1);
    unsendable.Sent(2);
    EXPECT_FALSE(unsendable.Waiting());
}

// The queries the search makes, against scripted (answers, authority) results.
TEST(MailExchanger, QueryOrder) {
    using TNames = std::vector<std::string>;
    struct TStep {
        TNames Answers, Authority;
    };
    struct TCase {
        const char* Name;
        const char* Address;
        TNames Servers;
        std::vector<TStep> Steps;
        const char* Queries;
        const char* Result;
    } cases[] = {
        {"configured server",
         "Bea <bea@mail.example.co.uk>",
         {"10.0.0.1", "10.0.0.2"},
         {{{"mx1.example.co.uk"}, {}}},
         "MX mail.example.co.uk @10.0.0.1,10.0.0.2\n",
         "mx1.example.co.uk"},
        {"reduced domain after an empty answer",
         "bea@a.mail.example.co.uk",
         {"10.0.0.1"},
         {{{}, {}}, {{"mx.example.co.uk"}, {}}},
         "MX a.mail.example.co.uk @10.0.0.1\nMX example.co.uk @10.0.0.1\n",
         "mx.example.co.uk"},
        {"nothing anywhere", "dev@example.org", {"10.0.0.1"}, {{{}, {}}}, "MX example.org @10.0.0.1\n", ""},
        {"walk from the roots",
         "dev@mail.example.org",
         {},
         {{{}, {"a0.org.afilias-nst.org", "b0.org.afilias-nst.org"}},
          {{}, {"ns1.example.org"}},
          {{"ns1.example.org", "ns2.example.org"}, {}},
          {{"mx.example.org"}, {}}},
         "NS mail.example.org @198.41.0.4,193.0.14.129\n"
         "NS mail.example.org @a0.org.afilias-nst.org,b0.org.afilias-nst.org\n"
         "NS mail.example.org @ns1.example.org\n"
         "MX mail.example.org @ns1.example.org,ns2.example.org\n",
         "mx.example.org"},
        {"last authority serves as name servers",
         "dev@example.org",
         {},
         {{{}, {"a0.org"}}, {{}, {"ns1.example.org"}}, {{}, {}}, {{"mx.example.org"}, {}}},
         "NS example.org @198.41.0.4,193.0.14.129\nNS example.org @a0.org\nNS example.org @ns1.example.org\n"
         "MX example.org @ns1.example.org\n",
         "mx.example.org"},
        {"roots silent", "dev@example.org", {}, {{{}, {}}}, "NS example.org @198.41.0.4,193.0.14.129\n", ""},
        {"no domain", "nobody", {"10.0.0.1"}, {}, "", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TMailExchangerSearch search(c.Address, c.Servers);
        std::string queries;
        size_t step = 0;
        while (!search.Done() && step < c.Steps.size()) {
            const auto& r = search.Request();
            queries +=
                std::string(r.Type == DnsTypeMx ? "MX " : "NS ") + r.Name + " @" + Joined(r.Servers) + "\n";
            search.Answered(c.Steps[step].Answers, c.Steps[step].Authority);
            ++step;
        }
        EXPECT_TRUE(search.Done());
        EXPECT_EQ(queries, c.Queries);
        EXPECT_EQ(search.Result(), c.Result);
    }
}

TEST(MailExchanger, EndlessReferralsStopAfterTenRounds) {
    TMailExchangerSearch search("dev@example.org", {});
    int queries = 0;
    while (!search.Done() && queries < 100) {
        ++queries;
        if (search.Request().Type == DnsTypeMx) break;
        const std::vector<std::string> many(20, "ns" + std::to_string(queries) + ".example.org");
        search.Answered({}, many);
    }
    ASSERT_FALSE(search.Done());
    EXPECT_EQ(queries, 1 + MaxDelegationRounds + 1);
    EXPECT_EQ(search.Request().Servers.size(), MaxServersPerQuery);
    EXPECT_EQ(search.Request().Servers[0], "ns11.example.org");
}

} // namespace
