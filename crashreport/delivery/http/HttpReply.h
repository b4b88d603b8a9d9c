#pragma once
// Reading and judging the upload's reply: 200 is success, 302 is success with an address to
// open in the browser, anything else is failure. Interim 1xx replies before the final one are
// passed over, however the bytes arrive.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class THttpReplyReader {
public:
    enum class TState {
        NeedMore, // the status line (or a 302's Location) has not arrived yet
        Success,  // 200, or 302 with an http or https Location()
        Failure   // any other reply, a 302 without a usable Location, or too much text
    };

    // A reply's head larger than this is no answer to our upload; a server that keeps talking
    // is cut off rather than read forever.
    static constexpr size_t MaxReply = 64 * 1024;

    TState Feed(const uint8_t* data, size_t count);
    // The connection ended or the wait ran out: a status line without its CR LF is judged as it
    // stands, anything still missing is a failure.
    TState End();

    TState State() const { return FState; }
    const std::string& Status() const { return FStatus; }     // the final status code, as sent
    const std::string& Location() const { return FLocation; } // of a successful 302

private:
    void Read(bool atEnd);
    size_t FindFrom(std::string_view what);

    enum class TPhase { Status, Interim, Headers };
    TPhase FPhase = TPhase::Status;
    TState FState = TState::NeedMore;
    std::string FBuffer; // from the start of the reply not yet passed over
    size_t FTotal = 0;
    size_t FLineAt = 0; // the next header line of a 302
    size_t FSeen = 0;   // what is searched for does not begin before this, but for a partial match
    std::string FStatus, FLocation;
};

// The Location of a 302 may be opened only as a web address: "http://" or "https://" (any case)
// with a host, and nothing a command line could split or a shell could read as more.
bool IsWebAddress(std::string_view location);
