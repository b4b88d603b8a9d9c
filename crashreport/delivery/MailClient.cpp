#include "crashreport/delivery/MailClient.h"

#include "crashreport/delivery/mail/MailAddress.h"
#include "crashreport/delivery/mime/MimeText.h"

std::string MailtoUrl(std::string_view recipients, std::string_view subject, std::string_view body) {
    return "mailto:" + NormaliseRecipients(recipients) + "?subject=" + UrlEscape(subject) +
           "&body=" + UrlEscape(body);
}

std::string MailtoCommand(std::string_view handler, std::string_view url, bool ntFamily) {
    std::string command(handler);
    const size_t at = command.find("%1");
    if (at != std::string::npos)
        command.replace(at, 2, url);
    else {
        if (command.empty() || command.back() != ' ') command += ' ';
        command += url;
    }
    if (ntFamily && command.size() > MaxNtCommandLine) {
        size_t keep = MaxNtCommandLine;
        if (command[keep - 1] == '%')
            keep -= 1;
        else if (command[keep - 2] == '%')
            keep -= 2;
        command.resize(keep);
    }
    return command;
}

namespace {

uint16_t Checksum(const uint8_t* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < n; i += 2)
        sum += uint32_t(p[i]) << 8 | p[i + 1];
    if (n & 1) sum += uint32_t(p[n - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

} // namespace

std::vector<uint8_t> EchoRequest(uint16_t id, uint16_t sequence) {
    std::vector<uint8_t> p(EchoRequestSize, 0);
    p[0] = 8;
    p[4] = uint8_t(id >> 8);
    p[5] = uint8_t(id);
    p[6] = uint8_t(sequence >> 8);
    p[7] = uint8_t(sequence);
    for (size_t i = 8; i < EchoRequestSize; i += 4) {
        // 0xDEADBEEF as the 32-bit word the system writes (little-endian).
        p[i] = 0xEF;
        p[i + 1] = 0xBE;
        p[i + 2] = 0xAD;
        p[i + 3] = 0xDE;
    }
    const uint16_t sum = Checksum(p.data(), p.size());
    p[2] = uint8_t(sum >> 8);
    p[3] = uint8_t(sum);
    return p;
}

TEchoReply ReadEchoReply(const uint8_t* packet, size_t size, uint16_t id, uint16_t sequence) {
    if (size < 1) return TEchoReply::Short;
    const size_t header = size_t(packet[0] & 0x0F) * 4;
    if (size < header + EchoRequestSize) return TEchoReply::Short;
    const uint8_t* icmp = packet + header;
    const bool ours = icmp[0] == 0 && (icmp[4] << 8 | icmp[5]) == id && (icmp[6] << 8 | icmp[7]) == sequence;
    return ours ? TEchoReply::Answered : TEchoReply::Other;
}
