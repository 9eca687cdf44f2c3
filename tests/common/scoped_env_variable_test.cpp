// An environment variable set for the life of one object.

#include "common/scoped_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

const char kName[] = "KEVRA_SCOPED_ENV_TEST";

// The variable as the C library sees it; "<unset>" when it is absent.
std::string raw(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    return value ? std::string(value) : std::string("<unset>");
}

class ScopedEnv : public testing::Test {
protected:
    void SetUp() override { ::unsetenv(kName); }
    void TearDown() override { ::unsetenv(kName); }
};

TEST_F(ScopedEnv, SetForTheScopeAndRemovedWhenItWasUnset)
{
    {
        EnvironmentVariable variable(kName, "inside");
        EXPECT_EQ(variable.getName(), kName);
        EXPECT_EQ(variable.getValue(), "inside");
        EXPECT_EQ(raw(kName), "inside");
    }
    EXPECT_EQ(raw(kName), "<unset>");
}

TEST_F(ScopedEnv, AnEarlierValueComesBack)
{
    ::setenv(kName, "before", 1);
    {
        EnvironmentVariable variable(kName, "inside");
        EXPECT_EQ(raw(kName), "inside");
        variable.setValue("changed");
        EXPECT_EQ(raw(kName), "changed");
        variable.unset();
        EXPECT_EQ(raw(kName), "<unset>");
        EXPECT_EQ(variable.getValue(), "");
    }
    EXPECT_EQ(raw(kName), "before");

    ::setenv(kName, "", 1);
    { EnvironmentVariable variable(kName, "inside"); }
    EXPECT_EQ(raw(kName), "") << "an empty value is a value";
}

TEST_F(ScopedEnv, NestedScopesUnwindInOrder)
{
    ::setenv(kName, "outermost", 1);
    {
        EnvironmentVariable outer(kName, "outer");
        {
            EnvironmentVariable inner(kName);
            EXPECT_EQ(raw(kName), "");
        }
        EXPECT_EQ(raw(kName), "outer");
    }
    EXPECT_EQ(raw(kName), "outermost");
}

TEST_F(ScopedEnv, NamesAndValuesThatNameNoVariableAreRefused)
{
    ::setenv(kName, "untouched", 1);
    struct Case {
        std::string name;
        std::string value;
        std::string message;
    };
    const Case cases[] = {
        {"", "v", "environment variable \"\" set failure"},
        {"A=B", "v", "environment variable \"A=B\" set failure"},
        // Cut at its NUL the name would be another variable's.
        {std::string(kName) + std::string("\0X", 2), "v",
         "environment variable \"" + std::string(kName) + "\\0X\" set failure"},
        // A value with a NUL cannot be stored whole.
        {kName, std::string("a\0b", 3), "environment variable \"" + std::string(kName) + "\" set failure"},
        {"QUOTE\"D", std::string("a\0b", 3), "environment variable \"QUOTE\\\"D\" set failure"},
    };
    for (const Case& c : cases) {
        try {
            EnvironmentVariable variable(c.name, c.value);
            ADD_FAILURE() << "no exception for " << c.name;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_EQ(raw(kName), "untouched") << c.name;
    }
}

TEST_F(ScopedEnv, StaticAccessByName)
{
    EXPECT_EQ(EnvironmentVariable::getValue(kName), "");
    EnvironmentVariable::setValue(kName, "by name");
    EXPECT_EQ(raw(kName), "by name");
    EXPECT_EQ(EnvironmentVariable::getValue(kName), "by name");
    EnvironmentVariable::unset(kName);
    EXPECT_EQ(raw(kName), "<unset>");
    // Unsetting a variable that is not set is no failure.
    EXPECT_NO_THROW(EnvironmentVariable::unset(kName));

    EXPECT_EQ(EnvironmentVariable::getValue(""), "");
    EXPECT_EQ(EnvironmentVariable::getValue("A=B"), "");
    EXPECT_THROW(EnvironmentVariable::setValue("A=B", "v"), std::runtime_error);
    try {
        EnvironmentVariable::unset("A=B");
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "environment variable \"A=B\" unset failure");
    }
}

}  // namespace
