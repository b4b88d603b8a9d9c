#include <gtest/gtest.h>

#include <string>

#include "crashreport/base/FileAccessPosix.h"
#include "crashreport/base/Text.h"
#include "crashreport/delivery/mime/MimeMessage.h"
#include "tests/crashreport/bitmap/ExternalTools.h"

namespace {

using namespace ExternalTools;

// Python's email package reads the message and compares what it finds with the expectations
// given as arguments: subject and body as Latin-1 hex, then (send-as name, type, file) per
// attachment that must be present, in order.
const char* ReadScript = R"(import sys, email, email.policy, email.header
msg = email.message_from_bytes(open(sys.argv[1], 'rb').read(), policy=email.policy.compat32)
want_subject = bytes.fromhex(sys.argv[2]).decode('latin-1')
want_body = bytes.fromhex(sys.argv[3])
subject = str(email.header.make_header(email.header.decode_header(msg['Subject'])))
print('to', msg['To'])
print('from', msg['From'])
print('subject', subject == want_subject, repr(subject) if subject != want_subject else '')
print('date', msg['Date'], email.utils.parsedate_tz(msg['Date'])[:6])
print('defects', msg.defects)
parts = list(msg.walk())
if msg.is_multipart():
    print('type', msg.get_content_type(), msg.get_param('boundary'))
    parts = parts[1:]
text = parts[0]
body = text.get_payload(decode=True)
print('text', text.get_content_type(), text.get_content_charset(), body == want_body, '' if body == want_body else repr((body, want_body)))
rest = sys.argv[4:]
print('attachments', len(parts) - 1, len(rest) // 3)
for part, (name, ctype, path) in zip(parts[1:], zip(rest[0::3], rest[1::3], rest[2::3])):
    data = open(path, 'rb').read()
    print('part', part.get_filename() == name, part.get_content_type() == ctype,
          part.get_payload(decode=True) == data, part.defects)
)";

std::string HexOf(const std::string& s) {
    std::string h = "''";
    for (char c : s)
        AppendHex(h, uint8_t(c), 2);
    return h;
}

std::string Compose(const TMailMessage& message, IFileAccess& files) {
    TMimeComposer composer(message, files);
    std::string out;
    for (int guard = 0; guard < 100000; ++guard) {
        const TMimeComposer::TEvent e = composer.Next(out);
        if (e == TMimeComposer::TEvent::Finished || e == TMimeComposer::TEvent::ReadFailed) break;
    }
    return out;
}

TEST(MimeMessage, PythonReadsHeadersSubjectBodyAndAttachments) {
    TTempDir dir;
    std::string report;
    for (int i = 0; i < 2000; ++i)
        report +=
            "date/time          : 2026-12-08 09:05:03\r\nexception message  : Zugriffsverletzung \xE4\r\n";
    WriteText(dir / "bugreport.txt", report);
    std::vector<uint8_t> png(100000);
    uint32_t seed = 7;
    for (uint8_t& b : png)
        b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    WriteBytes(dir / "screenShot.png", png);
    WriteText(dir / "one.bin", "-");
    WriteText(dir / "empty.txt", "");

    std::string longSubject = "bug report: ";
    for (int i = 0; i < 12; ++i)
        longSubject +=
            "Zugriffsverletzung bei Adresse 0040A1B2 in Modul \"LevelEditor.exe\" \xE4\xF6\xFC\xDF. ";
    for (bool utf8 : {false, true}) {
        for (bool attach : {true, false}) {
            SCOPED_TRACE(std::string(utf8 ? "UTF-8" : "Q") + (attach ? " with attachments" : " plain"));
            TMailMessage m;
            m.Recipients = "dev@example.org; Bea <bea@example.net>";
            m.Sender = "xunExcept <crash@example.org>";
            m.Subject = attach ? "Fehler: \xE4" : longSubject;
            m.Body = "please find the bug report attached\r\n-- \r\nGr\xFC\xDF"
                     "e\r\n";
            m.Utf8Subject = utf8;
            m.Time = 134411943030000000ull;
            if (attach)
                m.Attachments = {{dir / "bugreport.txt", "bugreport.txt"},
                                 {dir / "missing.txt", "missing.txt"},
                                 {dir / "screenShot.png", "screenshot.png"},
                                 {dir / "empty.txt", "empty.txt"},
                                 {dir / "one.bin", "one byte.bin"}};
            TPosixFileAccess files;
            WriteText(dir / "mail.eml", Compose(m, files));
            WriteText(dir / "read.py", ReadScript);
            std::string command = std::string(SystemPython) + " " + Quote(dir / "read.py") + " " +
                                  Quote(dir / "mail.eml") + " " + HexOf(m.Subject) + " " + HexOf(m.Body);
            if (attach)
                command += " bugreport.txt application/octet-stream " + Quote(dir / "bugreport.txt") +
                           " screenshot.png image/png " + Quote(dir / "screenShot.png") +
                           " 'one byte.bin' application/octet-stream " + Quote(dir / "one.bin");
            int status = 0;
            const std::string out = RunCommand(command, &status);
            ASSERT_EQ(status, 0) << out;
            std::string want = "to <dev@example.org>, Bea <bea@example.net>\n"
                               "from xunExcept <crash@example.org>\n"
                               "subject True \n"
                               "date 8 Dec 2026 09:05:03 UT (2026, 12, 8, 9, 5, 3)\n"
                               "defects []\n";
            if (attach)
                want += "type multipart/mixed =_ZembrakMailPart_5C1D9E3A7B2F604\n"
                        "text text/plain iso-8859-1 True \n"
                        "attachments 3 3\n"
                        "part True True True []\n"
                        "part True True True []\n"
                        "part True True True []\n";
            else
                want += "text text/plain None True \n"
                        "attachments 0 0\n";
            EXPECT_EQ(out, want);
        }
    }
}

} // namespace
