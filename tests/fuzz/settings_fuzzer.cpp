// Fuzz target for the settings loader: any file content must load without a
// crash, a leak or undefined behaviour, leave every setting within its range,
// and survive a save: the values just loaded, saved into the same file, load
// back as they were (the gaps to the decimals written), with the [Ports] map
// and the file's other keys kept.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "mount/mount_controller.h"
#include "settings/settings_store.h"
#include "settings/value_text.h"

namespace {

struct Values {
    int port = 1;
    bool connect = false;
    CMountController controller;
};

void Load(const std::string& path, Values& v)
{
    LoadSettings(path, v.port, v.connect, v.controller);
}

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "settings fuzzer: %s\n", what);
        std::abort();
    }
}

double Written(double gap, int decimals)
{
    return std::stod(tavro::FormatFixed(gap, decimals));
}

std::string ScratchDir()
{
    // Memory-backed when there is one: every save syncs the file to disk.
    for (const char* base : {"/dev/shm", "/tmp"}) {
        std::string pattern = std::string(base) + "/tavro-settings-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            static std::string made;
            made = pattern;
            std::atexit([] { rmdir(made.c_str()); });
            return pattern;
        }
    }
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string dir = ScratchDir();
    static unsigned long counter = 0;
    // A new name for every input, so that no input sees another's file.
    const std::string path = dir + "/options-" + std::to_string(counter++) + ".ini";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    Values first;
    Load(path, first);
    const CMountController& c = first.controller;
    Check(first.port >= 1 && first.port <= 255, "port out of range");
    Check(c.Settings().clockCorrection >= 1 && c.Settings().clockCorrection <= 5, "clock correction out of range");
    Check(c.Settings().raGapMinutes >= 0.0 && c.Settings().raGapMinutes <= 60.0, "RA gap out of range");
    Check(c.Settings().decGapArcmin >= 0.0 && c.Settings().decGapArcmin <= tavro::RuleOf(tavro::Setting::DecGap).load.high, "Dec gap out of range");
    Check(c.Settings().maxGotoSpeed >= 48 && c.Settings().maxGotoSpeed <= 255, "goto speed out of range");
    Check(c.Settings().autoguideSteps >= 1 && c.Settings().autoguideSteps <= 4, "autoguide steps out of range");
    Check(c.Settings().k3ccdOption >= 0 && c.Settings().k3ccdOption <= 2, "K3CCD option out of range");
    Check(c.Settings().model == tavro::MountModel::EQ4 || c.Settings().model == tavro::MountModel::EQ5, "mount model not EQ-4 or EQ-5");
    for (const auto& [number, device] : c.m_portMap) {
        Check(number >= 1 && number <= 255 && !device.empty(), "bad port map entry");
    }

    Check(!SaveSettings(path, first.port, first.connect, c), "the save failed");
    Values second;
    Load(path, second);
    const CMountController& d = second.controller;
    Check(second.port == first.port && second.connect == first.connect, "port or flag changed");
    Check(d.Settings().clockCorrection == c.Settings().clockCorrection && d.Settings().maxGotoSpeed == c.Settings().maxGotoSpeed &&
              d.Settings().autoguideSteps == c.Settings().autoguideSteps && d.Settings().k3ccdOption == c.Settings().k3ccdOption &&
              d.Settings().Eq5() == c.Settings().Eq5(),
          "a number changed");
    Check(d.Settings().raGapMinutes == Written(c.Settings().raGapMinutes, 2) && d.Settings().decGapArcmin == Written(c.Settings().decGapArcmin, 1), "a gap changed");
    Check(d.m_portMap == c.m_portMap, "the port map changed");

    unlink(path.c_str());
    unlink((path + ".lock").c_str());
    return 0;
}
