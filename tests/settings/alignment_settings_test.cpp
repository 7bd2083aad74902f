// The settings file's [Site] and [Alignment] groups: what is taken, what is
// refused and told, the round trip of the kept terms through the safe save,
// and a save that cannot be made.

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "settings/alignment_settings.h"
#include "tests/settings/settings_test_util.h"

namespace tavro::test {
namespace {

using AlignmentSettings = SettingsDir;

std::string Joined(const std::vector<std::string>& problems)
{
    std::string text;
    for (const std::string& problem : problems) text += problem + "\n";
    return text;
}

TEST_F(AlignmentSettings, SiteValuesAreTakenOrRefusedWithTheKeyNamed)
{
    struct Case {
        const char* name;
        std::string group;
        std::optional<Site> site;
        const char* told;  // a part of the problems' text; "" for none
    };
    const Case cases[] = {
        {"both", "[Site]\nLatitude=48.25\nLongitude=-16.5\n", Site{48.25, -16.5}, ""},
        {"signs and blanks", "[Site]\nLatitude= +48 \nLongitude=180\n", Site{48.0, 180.0}, ""},
        {"the poles", "[Site]\nLatitude=-90\nLongitude=-180\n", Site{-90.0, -180.0}, ""},
        {"no group", "[Options]\nConnection=2\n", std::nullopt, ""},
        {"latitude beyond the pole", "[Site]\nLatitude=90.5\nLongitude=16\n", std::nullopt,
         "[Site] Latitude=90.5 is out of range"},
        {"longitude beyond 180", "[Site]\nLatitude=48\nLongitude=-181\n", std::nullopt,
         "[Site] Longitude=-181 is out of range"},
        {"letters", "[Site]\nLatitude=48N\nLongitude=16\n", std::nullopt, "[Site] Latitude=48N is not a number"},
        {"decimal comma", "[Site]\nLatitude=48\nLongitude=16,4\n", std::nullopt, "[Site] Longitude"},
        {"not a number", "[Site]\nLatitude=nan\nLongitude=16\n", std::nullopt, "Latitude=nan is not a number"},
        {"infinite", "[Site]\nLatitude=48\nLongitude=inf\n", std::nullopt, "Longitude=inf is not a number"},
        {"empty", "[Site]\nLatitude=\nLongitude=16\n", std::nullopt, "[Site] Latitude= is not a number"},
        {"half a site", "[Site]\nLatitude=48\n", std::nullopt, "[Site] Longitude is missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(Path(), c.group);
        const SiteLoad load = LoadSite(Path());
        ASSERT_EQ(load.site.has_value(), c.site.has_value());
        if (c.site) {
            EXPECT_EQ(load.site->latitudeDeg, c.site->latitudeDeg);
            EXPECT_EQ(load.site->longitudeDeg, c.site->longitudeDeg);
        }
        if (*c.told == '\0')
            EXPECT_TRUE(load.problems.empty()) << Joined(load.problems);
        else
            EXPECT_NE(Joined(load.problems).find(c.told), std::string::npos) << Joined(load.problems);
    }
    // No file at all: no site, nothing to tell.
    const SiteLoad none = LoadSite(Path("missing.ini"));
    EXPECT_FALSE(none.site);
    EXPECT_TRUE(none.problems.empty());
}

TEST_F(AlignmentSettings, KeptTermsRoundTripWithoutTheIndexAndKeepTheRestOfTheFile)
{
    WriteFile(Path(), "[Options]\nConnection=3\n[Site]\nLatitude=48\nLongitude=16\n");
    const PointingTerms fitted{1234.5, -321.25, 120.0, -35.5, -2400.25, 1500.75};
    ASSERT_FALSE(SaveAlignment(Path(), fitted, MountModel::EQ4));

    const std::string text = ReadFile(Path());
    EXPECT_NE(text.find("[Alignment]\nCH=120.00\nMA=-2400.25\nME=1500.75\nModel=EQ4\nNP=-35.50\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("IH"), std::string::npos) << text;
    EXPECT_NE(text.find("Connection=3"), std::string::npos) << text;
    EXPECT_NE(text.find("Latitude=48"), std::string::npos) << text;

    const AlignmentLoad load = LoadAlignment(Path(), MountModel::EQ4);
    ASSERT_TRUE(load.terms) << Joined(load.problems);
    EXPECT_TRUE(load.problems.empty());
    EXPECT_EQ(*load.terms, (PointingTerms{0.0, 0.0, 120.0, -35.5, -2400.25, 1500.75}));

    // The terms of another mount are not this one's.
    const AlignmentLoad other = LoadAlignment(Path(), MountModel::EQ5);
    EXPECT_FALSE(other.terms);
    EXPECT_NE(Joined(other.problems).find("made on an EQ4 mount, not this EQ5"), std::string::npos)
        << Joined(other.problems);

    // Removed: the group goes, everything else stays.
    ASSERT_FALSE(RemoveAlignment(Path()));
    EXPECT_EQ(ReadFile(Path()), "[Options]\nConnection=3\n\n[Site]\nLatitude=48\nLongitude=16\n");
    const AlignmentLoad removed = LoadAlignment(Path(), MountModel::EQ4);
    EXPECT_FALSE(removed.terms);
    EXPECT_TRUE(removed.problems.empty());
}

TEST_F(AlignmentSettings, AGroupWithAMissingOrBadValueIsNotUsedAtAllAndSaysWhy)
{
    struct Case {
        const char* name;
        std::string group;
        const char* told;
    };
    const std::string terms = "CH=60\nNP=-30\nMA=100\nME=200\n";
    const Case cases[] = {
        {"no model", "[Alignment]\n" + terms, "[Alignment] Model is missing"},
        {"unknown model", "[Alignment]\nModel=EQ6\n" + terms, "Model=EQ6 is not a mount model"},
        {"a term missing", "[Alignment]\nModel=EQ5\nCH=60\nNP=-30\nMA=100\n", "[Alignment] ME is missing"},
        {"a term not a number", "[Alignment]\nModel=EQ5\nCH=60\nNP=-30x\nMA=100\nME=200\n",
         "[Alignment] NP=-30x is not a number"},
        {"a term beyond ten degrees", "[Alignment]\nModel=EQ5\nCH=60\nNP=-30\nMA=36000.5\nME=200\n",
         "[Alignment] MA=36000.5 is out of range"},
        {"a term not finite", "[Alignment]\nModel=EQ5\nCH=nan\nNP=-30\nMA=100\nME=200\n",
         "[Alignment] CH=nan is not a number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(Path(), c.group);
        const AlignmentLoad load = LoadAlignment(Path(), MountModel::EQ5);
        EXPECT_FALSE(load.terms);
        EXPECT_NE(Joined(load.problems).find(c.told), std::string::npos) << Joined(load.problems);
    }
    // The same group whole is taken; the model in any letter case.
    WriteFile(Path(), "[Alignment]\nModel=eq5\n" + terms);
    const AlignmentLoad whole = LoadAlignment(Path(), MountModel::EQ5);
    ASSERT_TRUE(whole.terms) << Joined(whole.problems);
    EXPECT_EQ(*whole.terms, (PointingTerms{0.0, 0.0, 60.0, -30.0, 100.0, 200.0}));
}

TEST_F(AlignmentSettings, KeepingAModelWithoutPointsOrTermsRemovesTheGroup)
{
    PointingModel model;
    model.SetTerms({0.0, 0.0, 90.0, 0.0, 0.0, 0.0});
    ASSERT_FALSE(KeepAlignment(Path(), model, MountModel::EQ5));
    EXPECT_NE(ReadFile(Path()).find("CH=90.00"), std::string::npos) << ReadFile(Path());

    model.Clear();
    ASSERT_FALSE(KeepAlignment(Path(), model, MountModel::EQ5));
    EXPECT_EQ(ReadFile(Path()).find("[Alignment]"), std::string::npos) << ReadFile(Path());
}

TEST_F(AlignmentSettings, AFailedSaveSaysWhyAndLeavesTheFileAsItWas)
{
    const std::string target = Path("elsewhere.ini");
    const std::string before = "[Alignment]\nCH=1.00\nMA=2.00\nME=3.00\nModel=EQ5\nNP=4.00\n";
    WriteFile(target, before);
    ASSERT_EQ(::symlink(target.c_str(), Path().c_str()), 0);

    const std::optional<SaveFailure> saved = SaveAlignment(Path(), PointingTerms{0, 0, 9, 9, 9, 9}, MountModel::EQ5);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->Text(), Path() + ": it is a symbolic link");
    const std::optional<SaveFailure> removed = RemoveAlignment(Path());
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->reason, "it is a symbolic link");
    EXPECT_EQ(ReadFile(target), before);
}

}  // namespace
}  // namespace tavro::test
