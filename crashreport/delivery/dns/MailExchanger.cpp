#include "crashreport/delivery/dns/MailExchanger.h"

#include "crashreport/delivery/dns/DnsMessage.h"
#include "crashreport/delivery/mail/MailAddress.h"

namespace {

// Given a whole list, the first address decides.
std::string FirstDomain(std::string_view address) {
    const std::vector<std::string> all = SplitRecipients(address);
    return all.empty() ? std::string() : MailDomain(all.front());
}

} // namespace

TMailExchangerSearch::TMailExchangerSearch(std::string_view address, std::vector<std::string> servers)
    : FDomain(FirstDomain(address)), FReduced(::ReducedDomain(FDomain)) {
    if (FDomain.empty()) return;
    if (servers.empty())
        Ask(TPhase::RootNs, FReduced, DnsTypeNs, {std::begin(RootNameServers), std::end(RootNameServers)});
    else
        AskMx(servers);
}

void TMailExchangerSearch::Ask(TPhase phase, const std::string& name, uint16_t type,
                               const std::vector<std::string>& servers) {
    FPhase = phase;
    FRequest.Name = name;
    FRequest.Type = type;
    FRequest.Servers.assign(servers.begin(), servers.begin() + std::min(servers.size(), MaxServersPerQuery));
}

void TMailExchangerSearch::AskMx(const std::vector<std::string>& servers) {
    if (servers.empty()) {
        FPhase = TPhase::Done;
        return;
    }
    FMxServers = servers; // a copy: `servers` may be the request's own list
    Ask(TPhase::Mx, FDomain, DnsTypeMx, FMxServers);
}

void TMailExchangerSearch::Answered(const std::vector<std::string>& answers,
                                    const std::vector<std::string>& authority) {
    switch (FPhase) {
    case TPhase::RootNs:
    case TPhase::Delegation:
        if (!answers.empty()) return AskMx(answers);
        if (!authority.empty() && FRounds < MaxDelegationRounds) {
            ++FRounds;
            return Ask(TPhase::Delegation, FReduced, DnsTypeNs, authority);
        }
        // No answers: the last authority names serve as the domain's name servers.
        if (!authority.empty()) return AskMx(authority);
        return AskMx(FPhase == TPhase::Delegation ? FRequest.Servers : std::vector<std::string>());
    case TPhase::Mx:
    case TPhase::ReducedMx:
        if (!answers.empty()) {
            FResult = answers.front();
            FPhase = TPhase::Done;
            return;
        }
        if (FPhase == TPhase::Mx && FReduced != FDomain)
            return Ask(TPhase::ReducedMx, FReduced, DnsTypeMx, FMxServers);
        FPhase = TPhase::Done;
        return;
    case TPhase::Done:
        return;
    }
}
