// The field list's rules: trimming, deleting, the insertion index, changes only when something
// changed, and nothing accepted before the owner allows it.
#include <gtest/gtest.h>

#include "crashreport/report/Fields.h"

namespace {

std::string Dump(IMEFields& f) {
    std::string out;
    for (int i = 0; i < f.ItemCount(); ++i)
        out += f.ItemName(i) + "=" + f.ItemContents(i) + ";";
    return out;
}

} // namespace

TEST(Fields, SetContentsRules) {
    int changes = 0;
    auto f = MakeRef<TIMEFields>([&] { ++changes; }, false);
    f->SetContents("early", "ignored");
    EXPECT_EQ(f->ItemCount(), 0);
    f->SetAccepting(true);

    f->Add("a", " \t1\r\n");
    f->Add("b", "2");
    f->Add("crc", "soon");
    EXPECT_EQ(Dump(*f), "a=1;b=2;crc=soon;");
    EXPECT_EQ(changes, 3);

    f->SetContents("new", "x"); // insertion index 0: appended
    f->Delete("new");
    f->SetInsertIndex(2); // just before "crc"
    f->SetContents("first", "x");
    f->SetContents("second", "y");
    EXPECT_EQ(Dump(*f), "a=1;b=2;second=y;first=x;crc=soon;");
    changes = 0;

    f->SetContents("A", "1"); // same content, other case: the name changes
    EXPECT_EQ(changes, 1);
    f->SetContents("A", " 1 "); // nothing changes after trimming
    f->SetContents("A", "1");
    EXPECT_EQ(changes, 1);
    f->SetContents("first", "\r\n"); // empty after trimming: deleted
    EXPECT_EQ(Dump(*f), "A=1;b=2;second=y;crc=soon;");
    f->SetContents("missing", ""); // deleting what is not there changes nothing
    f->Delete(99);
    EXPECT_EQ(changes, 2);

    f->Insert(0, "top", "t");
    f->Insert(99, "bottom", "z");
    EXPECT_EQ(Dump(*f), "top=t;A=1;b=2;second=y;crc=soon;bottom=z;");
    auto copy = f->Clone();
    f->Delete(0);
    EXPECT_EQ(copy->ItemCount(), 6);
    EXPECT_EQ(copy->Contents("CRC"), "soon");
}
