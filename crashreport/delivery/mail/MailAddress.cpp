#include "crashreport/delivery/mail/MailAddress.h"

namespace {

std::string Wrapped(std::string_view prefix, std::string_view text, std::string_view suffix) {
    std::string out;
    out.reserve(prefix.size() + text.size() + suffix.size());
    out.append(prefix).append(text).append(suffix);
    return out;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

} // namespace

std::string AngleForm(std::string_view address) {
    const size_t lt = address.find('<');
    if (lt == std::string_view::npos) return Wrapped("<", address, ">");
    return std::string(address.substr(lt));
}

std::string HeaderForm(std::string_view address) {
    if (address.find('<') == std::string_view::npos) return Wrapped("<", address, ">");
    return std::string(address);
}

std::string NormaliseRecipients(std::string_view list) {
    std::string out;
    for (const std::string& a : SplitRecipients(list)) {
        if (!out.empty()) out += ',';
        out += a;
    }
    return out;
}

std::vector<std::string> SplitRecipients(std::string_view list) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find_first_of(",;", start);
        if (end == std::string_view::npos) end = list.size();
        const std::string_view item = TrimBlanks(list.substr(start, end - start));
        if (!item.empty()) out.emplace_back(item);
        start = end + 1;
    }
    return out;
}

std::string HeaderRecipients(std::string_view list) {
    std::string out;
    for (const std::string& a : SplitRecipients(list)) {
        if (!out.empty()) out += ", ";
        out += HeaderForm(a);
    }
    return out;
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

TMapiRecipient MapiSplit(std::string_view address) {
    const size_t lt = address.find('<');
    if (lt == std::string_view::npos) return {std::string(address), Wrapped("SMTP:", address, "")};
    std::string_view mailbox = address.substr(lt + 1);
    mailbox = mailbox.substr(0, mailbox.find('>'));
    return {std::string(address.substr(0, lt)), Wrapped("SMTP:", mailbox, "")};
}

std::string MailDomain(std::string_view address) {
    const size_t at = address.find('@');
    if (at == std::string_view::npos) return {};
    std::string_view domain = address.substr(at + 1);
    if (!domain.empty() && domain.back() == '>') domain.remove_suffix(1);
    return std::string(domain);
}

std::string ReducedDomain(std::string_view domain) {
    size_t dots = 0;
    for (size_t i = domain.size(); i > 0; --i)
        if (domain[i - 1] == '.' && ++dots == 3) return std::string(domain.substr(i));
    return std::string(domain);
}
