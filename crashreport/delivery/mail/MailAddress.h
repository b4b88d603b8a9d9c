#pragma once
// Mail addresses as the crash reporter's settings hold them: a bare mailbox ("user@host") or a
// display name followed by the mailbox in angle brackets; lists separated by "," or ";".
#include <string>
#include <string_view>
#include <vector>

// For the SMTP envelope: "<" + text + ">", or, when there is a "<", the text from it on.
std::string AngleForm(std::string_view address);
// For the To: and From: lines: wrapped as above when there is no "<", else unchanged.
std::string HeaderForm(std::string_view address);

// ";" becomes ",", blanks around the whole list and around each "," go.
std::string NormaliseRecipients(std::string_view list);
// The addresses of a list, normalised. Empty entries (a doubled or trailing separator) are no
// addresses and are left out.
std::vector<std::string> SplitRecipients(std::string_view list);
// The header form of each address, joined by ", ".
std::string HeaderRecipients(std::string_view list);

// True when the text holds a byte that would end or split a command line or header (CR, LF,
// NUL): such a text is never put on the wire.
bool HasLineBreak(std::string_view text);

struct TMapiRecipient {
    std::string Name;
    std::string Address; // with the "SMTP:" prefix
};
// Without "<" name and address are the whole text; with it, the name is the text before it and
// the address the text after it, up to the next ">".
TMapiRecipient MapiSplit(std::string_view address);

// The text after the first "@", without a trailing ">"; empty without "@".
std::string MailDomain(std::string_view address);
// The last three dot-separated labels of a domain; shorter domains stay whole.
std::string ReducedDomain(std::string_view domain);
