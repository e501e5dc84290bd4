// Tests of log labels: a label names the class (or namespace) whose code holds it.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "hlv_thread/log_label.h"

namespace {

class Base {
    HLV_LOG_CLASS(Base);

public:
    virtual ~Base() = default;
    const char* inherited() const { return HLV_LABEL("run"); }
    virtual const char* overridden() const
    {
        return [] { return HLV_LABEL("later"); }();
    }
};

class Derived : public Base {
    HLV_LOG_CLASS(Derived);

public:
    const char* overridden() const override
    {
        return [] { return HLV_LABEL("later"); }();
    }
};

namespace codec {

HLV_LOG_NAMESPACE(codec);

const char* parse()
{
    return HLV_LABEL("parse");
}

} // namespace codec

TEST(LogLabel, NamesTheClassWhoseCodeRuns)
{
    const Derived derived;
    const Base& base = derived;
    EXPECT_STREQ(base.inherited(), "Base::run");
    EXPECT_STREQ(base.overridden(), "Derived::later");
    EXPECT_STREQ(codec::parse(), "codec::parse");
}

TEST(LogLabel, IsOneTextThatMayBeKept)
{
    const char* first = codec::parse();
    EXPECT_EQ(first, codec::parse());
    EXPECT_EQ(std::strlen(first), std::string("codec::parse").size());
}

} // namespace
