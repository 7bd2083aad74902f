#pragma once
// Renders what a FakeLine recorded as "offset:bytes" items, e.g.
// "0:71 50:7A 200:4C030100", offsets in milliseconds from `start`, so that a
// test states the exact bytes and the exact millisecond of every write.

#include <cstdio>
#include <string>

#include "tests/support/fake_port.h"

namespace tavro::test {

inline std::string Trace(const FakeLine& line, uint32_t start)
{
    std::string out;
    char buf[16];
    for (const Written& w : line.Writes()) {
        if (!out.empty())
            out += ' ';
        out += std::to_string(static_cast<int32_t>(w.at - start)) + ':';
        if (w.bytes.empty())
            out += "FAILED";
        for (uint8_t b : w.bytes) {
            std::snprintf(buf, sizeof buf, "%02X", b);
            out += buf;
        }
    }
    return out;
}

}  // namespace tavro::test
