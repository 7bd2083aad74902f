// The finder's catalogue: how long the data file takes to load, and how
// long the search takes per keystroke when every prefix of many names is
// typed (as the finder's field asks at each key), over the whole catalogue.
// Targets: a load within 20 ms, a keystroke within 5 ms.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench/figures.h"
#include "sky/catalogue.h"

using namespace tavro;

namespace {

double MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string path = argc > 1 ? argv[1] : sky::DefaultCataloguePath();
    std::printf("Data file: %s\n", path.c_str());

    std::vector<double> loads;
    std::optional<sky::Catalogue> catalogue;
    for (int i = 0; i < 30; ++i) {
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        catalogue = sky::Catalogue::Load(path, &error);
        loads.push_back(MillisecondsSince(start));
        if (!catalogue) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }
    std::printf("%zu objects\n", catalogue->Objects().size());
    bench::Print("load (30 times)", bench::Summarise(loads));

    // Names to type: every object's first name and, for one object in
    // eight, a name further down its list, in a fixed shuffled order.
    std::vector<std::string> names;
    for (std::size_t i = 0; i < catalogue->Objects().size(); ++i) {
        const auto& object = catalogue->Objects()[i];
        if (i % 8 == 0 && object.names.size() > 1) names.push_back(object.names[1 + i / 8 % (object.names.size() - 1)]);
        if (i % 4 == 0) names.push_back(object.names.front());
    }
    std::mt19937 random(7);
    std::shuffle(names.begin(), names.end(), random);
    names.resize(std::min<std::size_t>(names.size(), 1500));

    std::vector<double> keystrokes;
    std::vector<double> firstKeys;
    std::size_t found = 0;
    for (const std::string& name : names) {
        for (std::size_t length = 1; length <= name.size(); ++length) {
            const auto start = std::chrono::steady_clock::now();
            const auto result = catalogue->Find(std::string_view(name).substr(0, length));
            const double ms = MillisecondsSince(start);
            keystrokes.push_back(ms);
            if (length == 1) firstKeys.push_back(ms);
            found += result.total;
        }
    }
    std::printf("%zu names typed key by key (%zu matches in all)\n", names.size(), found);
    bench::Print("Find per keystroke", bench::Summarise(keystrokes));
    bench::Print("Find at the first key (most matches)", bench::Summarise(firstKeys));
    return 0;
}
