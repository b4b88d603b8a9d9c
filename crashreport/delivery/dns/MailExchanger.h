#pragma once
// FindMailExchanger without I/O: which DNS queries to make, in which order, to find the mail
// exchanger of an address's domain. The caller runs each Request() as a TDnsQuery against its
// servers and reports the names it gave.
//
//     TMailExchangerSearch search(address, dnsServers);
//     while (!search.Done()) {
//         const auto& r = search.Request();
//         ... run TDnsQuery(r.Name, r.Type, id) against r.Servers ...
//         search.Answered(query.Answers(), query.Authority());
//     }
//     return search.Result();
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Where the walk starts without a DNS server of our own: two root name servers, by address,
// because there is nothing yet to resolve their names with.
inline constexpr const char* RootNameServers[] = {"198.41.0.4", "193.0.14.129"};
// Delegations followed below the roots before giving up.
inline constexpr int MaxDelegationRounds = 10;
// Servers asked at once: a reply may name many, each costs a datagram and a wait.
inline constexpr size_t MaxServersPerQuery = 8;

class TMailExchangerSearch {
public:
    struct TRequest {
        std::string Name;
        uint16_t Type = 0;
        std::vector<std::string> Servers; // host names or dotted IPv4 addresses
    };

    // `address`: a recipient (of a list, the first); `servers`: the system's DNS servers,
    // empty: walk down from the root name servers.
    TMailExchangerSearch(std::string_view address, std::vector<std::string> servers);

    bool Done() const { return FPhase == TPhase::Done; }
    const TRequest& Request() const { return FRequest; }
    void Answered(const std::vector<std::string>& answers, const std::vector<std::string>& authority);

    // The mail exchanger with the lowest preference; empty when none was found.
    const std::string& Result() const { return FResult; }
    const std::string& Domain() const { return FDomain; }
    const std::string& ReducedDomain() const { return FReduced; }

private:
    enum class TPhase { RootNs, Delegation, Mx, ReducedMx, Done };

    void Ask(TPhase phase, const std::string& name, uint16_t type, const std::vector<std::string>& servers);
    void AskMx(const std::vector<std::string>& servers);

    std::string FDomain, FReduced, FResult;
    std::vector<std::string> FMxServers;
    TPhase FPhase = TPhase::Done;
    int FRounds = 0;
    TRequest FRequest;
};
