#include "crashreport/delivery/net/Conversation.h"

#include <memory>

#include "crashreport/delivery/dns/MailExchanger.h"

bool RunSmtpConversation(TSmtpClient& client, INetwork& net, const TFindMailExchanger& findMx) {
    std::unique_ptr<IStreamSocket> socket;
    uint8_t buffer[SmtpReceiveSize];
    client.Start();
    for (;;) {
        switch (client.Want()) {
        case TSmtpClient::TWant::LookupMx:
            client.MxFound(findMx ? findMx(client.Recipients()) : std::string());
            break;
        case TSmtpClient::TWant::Connect:
            socket = net.Connect(client.Server(), client.Port());
            client.Connected(socket != nullptr);
            break;
        case TSmtpClient::TWant::Send:
            client.Sent(socket && socket->SendAll(client.Output(), SmtpSendPiece));
            break;
        case TSmtpClient::TWant::Receive: {
            const int n = socket ? socket->Receive(buffer, sizeof buffer, SmtpReplyWaitSeconds) : -1;
            if (n > 0)
                client.Received(buffer, size_t(n));
            else
                client.ReceiveFailed();
            break;
        }
        case TSmtpClient::TWant::Close:
            socket.reset();
            return client.Result();
        }
    }
}

bool RunHttpUpload(THttpUploadClient& client, INetwork& net, int replyTimeoutSeconds) {
    std::unique_ptr<IStreamSocket> socket;
    std::vector<uint8_t> buffer(HttpReceiveSize);
    client.Start();
    for (;;) {
        switch (client.Want()) {
        case THttpUploadClient::TWant::Connect:
            socket = net.Connect(client.Host(), client.Port());
            client.Connected(socket != nullptr);
            break;
        case THttpUploadClient::TWant::Send:
            client.Sent(socket && socket->SendAll(client.Output(), HttpSendPiece));
            break;
        case THttpUploadClient::TWant::Receive: {
            const int n = socket ? socket->Receive(buffer.data(), buffer.size(), replyTimeoutSeconds) : -1;
            if (n > 0)
                client.Received(buffer.data(), size_t(n));
            else
                client.ReceiveEnded();
            break;
        }
        case THttpUploadClient::TWant::Close:
            socket.reset();
            return client.Result();
        }
    }
}

TDnsNames RunDnsQuery(std::string_view name, uint16_t type, const std::vector<std::string>& servers,
                      uint16_t id, INetwork& net) {
    TDnsQuery query(name, type, id);
    if (query.Datagram().empty() || servers.empty()) return {};
    std::unique_ptr<IDatagramSocket> socket = net.OpenDatagram();
    if (!socket) return {};
    size_t sent = 0;
    for (const std::string& server : servers)
        if (socket->SendTo(server, DnsPort, query.Datagram().data(), query.Datagram().size())) ++sent;
    query.Sent(sent);
    uint8_t buffer[DnsReplySize];
    while (query.Waiting()) {
        const int n = socket->ReceiveFrom(buffer, sizeof buffer, DnsReplyWaitSeconds);
        if (n < 0)
            query.TimedOut();
        else
            query.Received(buffer, size_t(n));
    }
    return {query.Answers(), query.Authority()};
}

std::string FindMailExchanger(std::string_view address, const std::vector<std::string>& servers,
                              INetwork& net, const std::function<uint16_t()>& nextId) {
    TMailExchangerSearch search(address, servers);
    while (!search.Done()) {
        const TMailExchangerSearch::TRequest& r = search.Request();
        const TDnsNames names = RunDnsQuery(r.Name, r.Type, r.Servers, nextId(), net);
        search.Answered(names.Answers, names.Authority);
    }
    return search.Result();
}
