#pragma once
// The portable half of the mail client transports and the online check: the mailto: command
// line and the ICMP echo packets.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The longest command line CreateProcess takes on the NT family.
inline constexpr size_t MaxNtCommandLine = 32766;

// "mailto:" + the normalised recipients + "?subject=" + subject + "&body=" + body, subject and
// body escaped with UrlEscapeSet.
std::string MailtoUrl(std::string_view recipients, std::string_view subject, std::string_view body);
// The handler's command with "%1" replaced by the URL, or the URL appended (after a blank
// unless the command ends in one). With `ntFamily` a longer command is cut to MaxNtCommandLine
// characters, or one or two less, so that no "%" escape is cut in two.
std::string MailtoCommand(std::string_view handler, std::string_view url, bool ntFamily);

// The echo request: type 8, code 0, checksum, identifier, sequence, and six words 0xDEADBEEF.
inline constexpr size_t EchoRequestSize = 32;
std::vector<uint8_t> EchoRequest(uint16_t id, uint16_t sequence);

enum class TEchoReply {
    Answered, // type 0 with our identifier and sequence
    Short,    // shorter than its IP header and our 32 bytes: no answer
    Other     // not ours (our own request seen on loopback, another process's echo): skip it
};
// Reads a received IP datagram, skipping the IP header by its length field.
TEchoReply ReadEchoReply(const uint8_t* packet, size_t size, uint16_t id, uint16_t sequence);
