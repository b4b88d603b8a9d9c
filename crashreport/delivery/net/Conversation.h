#pragma once
// Runs the protocol engines over real sockets: each Want() of an engine becomes one socket
// call, with the engine's waits and piece sizes. The sockets are owned here and released on
// every path out, also when an engine or an allocation throws.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/delivery/dns/DnsQuery.h"
#include "crashreport/delivery/http/HttpUpload.h"
#include "crashreport/delivery/net/Network.h"
#include "crashreport/delivery/smtp/SmtpClient.h"

// Looks up the mail exchanger of a recipient list; empty when none was found.
using TFindMailExchanger = std::function<std::string(const std::string& recipients)>;

// One SMTP conversation, from Start to the closed connection; the client's Result().
bool RunSmtpConversation(TSmtpClient& client, INetwork& net, const TFindMailExchanger& findMx);

// The upload, from Start to the closed connection; the client's Result().
bool RunHttpUpload(THttpUploadClient& client, INetwork& net, int replyTimeoutSeconds);

struct TDnsNames {
    std::vector<std::string> Answers, Authority;
};
// One DnsQuery: the query goes to port 53 of every server at once, and the first reply that
// names anything is taken.
TDnsNames RunDnsQuery(std::string_view name, uint16_t type, const std::vector<std::string>& servers,
                      uint16_t id, INetwork& net);

// FindMailExchanger: through `servers`, or, when there are none, down from the root name
// servers. `nextId` gives each query its identifier.
std::string FindMailExchanger(std::string_view address, const std::vector<std::string>& servers,
                              INetwork& net, const std::function<uint16_t()>& nextId);
