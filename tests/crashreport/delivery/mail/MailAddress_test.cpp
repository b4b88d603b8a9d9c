#include <gtest/gtest.h>

#include "crashreport/delivery/mail/MailAddress.h"

namespace {

TEST(MailAddress, Forms) {
    struct TCase {
        const char* Text;
        const char* Angle;
        const char* Header;
        const char* MapiName;
        const char* MapiAddress;
        const char* Domain;
    } cases[] = {
        {"dev@example.org", "<dev@example.org>", "<dev@example.org>", "dev@example.org",
         "SMTP:dev@example.org", "example.org"},
        {"Bea Test <bea@mail.example.co.uk>", "<bea@mail.example.co.uk>", "Bea Test <bea@mail.example.co.uk>",
         "Bea Test ", "SMTP:bea@mail.example.co.uk", "mail.example.co.uk"},
        {"<x@y>", "<x@y>", "<x@y>", "", "SMTP:x@y", "y"},
        {"Cut <x@y", "<x@y", "Cut <x@y", "Cut ", "SMTP:x@y", "y"},
        {"nobody", "<nobody>", "<nobody>", "nobody", "SMTP:nobody", ""},
        {"a@b@c>", "<a@b@c>>", "<a@b@c>>", "a@b@c>", "SMTP:a@b@c>", "b@c"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(AngleForm(c.Text), c.Angle);
        EXPECT_EQ(HeaderForm(c.Text), c.Header);
        const TMapiRecipient m = MapiSplit(c.Text);
        EXPECT_EQ(m.Name, c.MapiName);
        EXPECT_EQ(m.Address, c.MapiAddress);
        EXPECT_EQ(MailDomain(c.Text), c.Domain);
    }
}

TEST(MailAddress, RecipientLists) {
    EXPECT_EQ(NormaliseRecipients("  a@x ; b@y,c@z  "), "a@x,b@y,c@z");
    EXPECT_EQ(NormaliseRecipients(" a b@x ;"), "a b@x");
    EXPECT_EQ(SplitRecipients("").size(), 0u);
    EXPECT_EQ(SplitRecipients("  ").size(), 0u);
    EXPECT_EQ(SplitRecipients("a@x;;b@y;").size(), 2u);
    EXPECT_EQ(SplitRecipients("Bea <b@y> , a@x")[0], "Bea <b@y>");
    EXPECT_EQ(HeaderRecipients("a@x; Bea <b@y>"), "<a@x>, Bea <b@y>");
    EXPECT_TRUE(HasLineBreak(std::string("a\0b", 3)));
    EXPECT_TRUE(HasLineBreak("a@x\nRCPT"));
    EXPECT_FALSE(HasLineBreak("Bea <b@y>"));
}

TEST(MailAddress, ReducedDomain) {
    const std::pair<const char*, const char*> cases[] = {
        {"example.org", "example.org"},
        {"a.b.example.org", "b.example.org"},
        {"x.a.b.example.org", "b.example.org"},
        {"org", "org"},
        {"", ""},
        {"mail.example.co.uk", "example.co.uk"},
    };
    for (const auto& [domain, reduced] : cases)
        EXPECT_EQ(ReducedDomain(domain), reduced) << domain;
}

} // namespace
