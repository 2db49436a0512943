#include "platform/display.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace tavrel::platform {
namespace {

// Sets or clears an environment variable for one scope.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old, m_had = true;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedVariable() {
        if (m_had)
            ::setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }

  private:
    std::string m_name, m_old;
    bool m_had = false;
};

TEST(Display, AnyWindowSystemOrChosenQtPlatformCounts) {
    ScopedVariable qt("QT_QPA_PLATFORM", nullptr), x("DISPLAY", nullptr),
        wayland("WAYLAND_DISPLAY", nullptr);
    EXPECT_FALSE(displayAvailable());
    {
        ScopedVariable empty("DISPLAY", "");
        EXPECT_FALSE(displayAvailable());
    }
    {
        ScopedVariable set("DISPLAY", ":99");
        EXPECT_TRUE(displayAvailable());
    }
    {
        ScopedVariable set("QT_QPA_PLATFORM", "offscreen");
        EXPECT_TRUE(displayAvailable());
    }
    {
        ScopedVariable set("WAYLAND_DISPLAY", "wayland-0");
        EXPECT_TRUE(displayAvailable());
    }
}

}  // namespace
}  // namespace tavrel::platform
