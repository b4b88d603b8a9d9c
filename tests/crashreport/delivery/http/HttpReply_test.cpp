#include <gtest/gtest.h>

#include <string>

#include "crashreport/delivery/http/HttpReply.h"

namespace {

using TState = THttpReplyReader::TState;

// Feeds the reply in pieces of `chunk` bytes, then, when it is still open, ends the stream.
THttpReplyReader Read(const std::string& reply, size_t chunk) {
    THttpReplyReader r;
    for (size_t at = 0; at < reply.size() && r.State() == TState::NeedMore; at += chunk)
        r.Feed(reinterpret_cast<const uint8_t*>(reply.data() + at), std::min(chunk, reply.size() - at));
    r.End();
    return r;
}

TEST(HttpReply, JudgedAlikeHoweverTheBytesArrive) {
    struct TCase {
        std::string Reply;
        TState Want;
        const char* Location;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", TState::Success, ""},
        {"HTTP/1.0 200\r\n", TState::Success, ""},
        {"HTTP/1.1 200 OK", TState::Success, ""}, // the connection ended after the status line
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n\r\n", TState::Success, ""},
        {"HTTP/1.1 100 Continue\r\nX: y\r\n\r\nHTTP/1.1 103 Early Hints\r\n\r\nHTTP/1.1 500 Oops\r\n\r\n",
         TState::Failure, ""},
        {"HTTP/1.1 100 Continue\r\n\r\n", TState::Failure, ""},
        {"HTTP/1.1 100 Continue\r\nHTTP/1.1 200 OK\r\n", TState::Failure, ""}, // no end of the interim
        {"HTTP/1.1 302 Found\r\nServer: x\r\nlOcAtIoN:  https://bugs.example.org/thanks?id=7 \r\n\r\n",
         TState::Success, "https://bugs.example.org/thanks?id=7"},
        {"HTTP/1.1 302 Found\r\nLocation:http://h/\r\n", TState::Success, "http://h/"},
        {"HTTP/1.1 302 Found\r\nLocation: http://h/", TState::Failure, ""},         // no CR LF after it
        {"HTTP/1.1 302 Found\r\n\r\nLocation: http://h/\r\n", TState::Failure, ""}, // in the body
        {"HTTP/1.1 302 Found\r\nX-Location: http://h/\r\n\r\n", TState::Failure, ""},
        {"HTTP/1.1 302 Found", TState::Failure, ""},
        {"HTTP/1.1 302 Found\r\nLocation: file:///C:/Windows/System32/calc.exe\r\n\r\n", TState::Failure, ""},
        {"HTTP/1.1 302 Found\r\nLocation: calc.exe\r\n\r\n", TState::Failure, ""},
        {"HTTP/1.1 302 Found\r\nLocation: http://h/ --flag\r\n\r\n", TState::Failure, ""},
        {"HTTP/1.1 302 Found\r\nLocation: http://h/\"x\r\n\r\n", TState::Failure, ""},
        {"HTTP/1.1 302 Found\r\nLocation: http://\r\n\r\n", TState::Failure, ""},
        {"HTTP/1.1 301 Moved\r\nLocation: http://h/\r\n\r\n", TState::Failure, ""},
        {"HTTP/1.1 2000 OK\r\n\r\n", TState::Failure, ""},
        {"HTTP/1.1  200 OK\r\n\r\n", TState::Success, ""},
        {"200 OK\r\n", TState::Failure, ""},
        {"garbage\r\n\r\n", TState::Failure, ""},
        {"", TState::Failure, ""},
    };
    for (const TCase& c : cases) {
        for (size_t chunk : {size_t(1), size_t(2), size_t(5), c.Reply.size() + 1}) {
            SCOPED_TRACE(c.Reply + " in pieces of " + std::to_string(chunk));
            const THttpReplyReader r = Read(c.Reply, chunk);
            EXPECT_EQ(r.State(), c.Want);
            EXPECT_EQ(r.Location(), c.Location);
        }
    }
}

TEST(HttpReply, EndlessRepliesAreCutOff) {
    const std::string endless[] = {
        "HTTP/1.1 200" + std::string(100000, 'x'),              // a status line
        "HTTP/1.1 302 Found\r\nX: " + std::string(100000, 'x'), // a header line
        [] {                                                    // many lines
            std::string s = "HTTP/1.1 302 Found\r\n";
            while (s.size() < 100000)
                s += "Set-Cookie: a\r\n";
            return s;
        }(),
        [] { // interim replies
            std::string s;
            while (s.size() < 100000)
                s += "HTTP/1.1 100 Continue\r\n\r\n";
            return s;
        }(),
    };
    for (const std::string& reply : endless) {
        for (size_t chunk : {size_t(1), size_t(5120)}) {
            THttpReplyReader r;
            size_t fed = 0;
            while (fed < reply.size() && r.State() == TState::NeedMore) {
                const size_t n = std::min(chunk, reply.size() - fed);
                r.Feed(reinterpret_cast<const uint8_t*>(reply.data() + fed), n);
                fed += n;
            }
            EXPECT_EQ(r.State(), TState::Failure);
            EXPECT_LE(fed, THttpReplyReader::MaxReply + chunk);
        }
    }
    // A reply decided within the limit stands, however much follows it in the same read.
    const std::string large = "HTTP/1.1 200 OK\r\n\r\n" + std::string(100000, 'x');
    THttpReplyReader r;
    EXPECT_EQ(r.Feed(reinterpret_cast<const uint8_t*>(large.data()), large.size()), TState::Success);
}

} // namespace
