#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crashreport/delivery/http/HttpRequest.h"

namespace {

std::string Listing(const TFormFields& fields) {
    std::string out;
    for (const auto& f : fields.Items())
        out += f.Name + "=" + f.Content + "|";
    return out;
}

TEST(HttpForm, FieldsFromAddFieldsAndTheMailValues) {
    struct TCase {
        const char* AddFields;
        const char* Sender;
        const char* Body;
        const char* Want;
    } cases[] = {
        {"", "", "", ""},
        {"", "a@example.org", " text \r\n", "MailFrom=a@example.org|MailSubject=bug report|MailBody=text|"},
        // A configured field keeps its place when a mail value replaces it; an empty mail value
        // leaves it alone; lines without a name or "=" are no fields; a value may hold "=".
        {"Product=LevelEditor\r\nMailBody=old\r\n=nameless\r\nno field\nVersion = 1=2 \n\nMailFrom=kept", "",
         "new", "Product=LevelEditor|MailBody=new|Version=1=2|MailFrom=kept|MailSubject=bug report|"},
        // An empty content removes a configured field.
        {"Empty=  \r\nProduct=x\r\nProduct=\r\n", "", "", "MailSubject=bug report|"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.AddFields);
        const TFormFields f =
            UploadFields(c.AddFields, c.Sender, *c.AddFields || *c.Sender ? "bug report" : "", c.Body, "");
        EXPECT_EQ(Listing(f), c.Want);
    }
    EXPECT_EQ(Listing(UploadFields("", "s", "t", "b", "r; q")),
              "MailFrom=s|MailSubject=t|MailBody=b|MailAddr=r; q|");
}

TEST(HttpForm, NamesCannotLeaveTheirQuotes) {
    EXPECT_EQ(FilePartHeader("a\"b", "x\r\ny.txt"),
              "\r\n--=_ZembrakMailPart_5C1D9E3A7B2F604\r\n"
              "Content-Disposition: form-data; name=\"a_b\"; filename=\"x__y.txt\"\r\n"
              "Content-Type: application/octet-stream\r\n\r\n");
}

TEST(HttpUrl, Split) {
    struct TCase {
        const char* Url;
        bool Ok;
        const char* Host;
        int32_t Port;
        const char* Path;
    } cases[] = {
        {"http://bugs.example.org/upload.php", true, "bugs.example.org", 80, "/upload.php"},
        {"HTTP://bugs.example.org/a/b?x=1&http=2", true, "bugs.example.org", 80, "/a/b?x=1&http=2"},
        {"bugs.example.org/upload", true, "bugs.example.org", 80, "/upload"},
        {"http://bugs.example.org", true, "bugs.example.org", 80, "/"},
        {"http://bugs.example.org?id=7#top", true, "bugs.example.org", 80, "/?id=7"},
        {"http://10.0.0.1:8080/up load\xE4", true, "10.0.0.1", 8080, "/up%20load%E4"},
        {"  http://h/x\r\nInjected: 1 ", true, "h", 80, "/x%0D%0AInjected:%201"},
        {"http://h:99999/", false, "", 0, ""},
        {"http://h:/", false, "", 0, ""},
        {"http:///path", false, "", 0, ""},
        {"", false, "", 0, ""},
        {"http://bad host/", false, "", 0, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Url);
        THttpUrl u;
        ASSERT_EQ(SplitUrl(c.Url, 80, u), c.Ok);
        if (!c.Ok) continue;
        EXPECT_EQ(u.Host, c.Host);
        EXPECT_EQ(u.Port, c.Port);
        EXPECT_EQ(u.Path, c.Path);
    }
}

TEST(HttpUrl, ProxyFromTheSystemsText) {
    struct TCase {
        const char* Text;
        const char* Host;
        int32_t Port;
    } cases[] = {
        {"", "", 0},
        {"proxy.example.org:3128", "proxy.example.org", 3128},
        {"http://proxy.example.org:3128/", "proxy.example.org", 3128},
        {"http=proxy.example.org:8080 ftp=ftp.example.org:21", "proxy.example.org", 8080},
        {"https=secure:8443;HTTP=http://plain:8080;ftp=f:21", "plain", 8080},
        {"ftp=f:21 https=secure:8443", "", 0}, // no proxy for plain HTTP
        {"xhttp=wrong:1 http=right:2", "right", 2},
        {"proxy.example.org", "proxy.example.org", 81},
        {"proxy.example.org:http", "proxy.example.org:http", 81},
        {"http=", "", 0},
        {"plain:8080 ftp=f:21", "plain", 8080}, // an entry for every protocol without its own
        {"ftp=f:21;plain:8080", "plain", 8080},
        {"http=mine:1 plain:8080", "mine", 1},
        {"xhttp=wrong:1 ftp=f:21", "", 0}, // once looped for ever
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        const THttpProxy p = ChooseProxy(c.Text, 81);
        EXPECT_EQ(p.Host, c.Host);
        EXPECT_EQ(p.Port, c.Port);
    }
}

} // namespace
