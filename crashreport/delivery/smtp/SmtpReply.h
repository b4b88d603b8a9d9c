#pragma once
// Reading one SMTP reply: lines up to CR LF, continued while the fourth character is "-".
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class TSmtpReplyReader {
public:
    enum class TState {
        NeedMore, // the reply's last line has not arrived yet
        Accepted, // complete, every line carried the expected code
        Refused,  // complete, with another code
        Broken    // more than a reply may hold: the connection is of no further use
    };

    // A reply larger than this is not a reply of any command we send; a server that keeps
    // talking is cut off here rather than read forever.
    static constexpr size_t MaxReply = 64 * 1024;

    // Starts reading the reply to one command; `code` is three digits. `noteAuthLogin` on the
    // reply to EHLO: AuthLogin() then tells whether the server offered AUTH LOGIN.
    void Begin(std::string_view code, bool noteAuthLogin = false);
    // Adds received bytes and reads on.
    TState Feed(const uint8_t* data, size_t count);
    // Reads on in what is already buffered (bytes that came after the previous reply).
    TState Poll();
    // Forgets what is buffered (after a failed receive the rest of the stream is unknown).
    void Reset();

    TState State() const { return FState; }
    bool AuthLogin() const { return FAuthLogin; }
    const std::string& LastLine() const { return FLastLine; } // without CR LF

private:
    void ReadLines();

    char FCode[3] = {};
    bool FNoteAuth = false;
    bool FAuthLogin = false;
    bool FMismatch = false;
    size_t FReplyBytes = 0;
    TState FState = TState::NeedMore;
    std::string FBuffer;    // received, not yet read
    size_t FSearchFrom = 0; // no line end in FBuffer before this
    std::string FLastLine;
};
