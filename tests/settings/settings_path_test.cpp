// Each executable is built with a settings path of its own.

#include <gtest/gtest.h>

#include <string>

#include "settings/settings_path.h"

TEST(SettingsPath, IsThePathThisExecutableWasBuiltWith)
{
    EXPECT_EQ(std::string(SettingsFilePath()), TAVRO_TEST_SETTINGS_FILE);
}
