#include "platform/environment.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace tavrel::platform {
namespace {

TEST(Environment, SetEmptyAndMissingVariablesAreToldApart) {
    const std::string name = "TAVREL_ENVIRONMENT_TEST";
    ::unsetenv(name.c_str());
    EXPECT_EQ(environmentValue(name), std::nullopt);
    ASSERT_EQ(::setenv(name.c_str(), "", 1), 0);
    EXPECT_EQ(environmentValue(name), std::optional<std::string>(""));
    ASSERT_EQ(::setenv(name.c_str(), "1 = two", 1), 0);
    const auto value = environmentValue(name);
    // The value outlives a change of the variable.
    ASSERT_EQ(::setenv(name.c_str(), "changed", 1), 0);
    EXPECT_EQ(value, std::optional<std::string>("1 = two"));
    EXPECT_EQ(environmentValue(name), std::optional<std::string>("changed"));
    ::unsetenv(name.c_str());
}

}  // namespace
}  // namespace tavrel::platform
