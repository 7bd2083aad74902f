#pragma once
// A controller connected to a FakeLine on a simulated clock, with the
// record cleared after the configuration: the starting point of the
// protocol and link tests.

#include <gtest/gtest.h>

#include "mount/mount_controller.h"
#include "tests/support/fake_port.h"
#include "tests/support/line_trace.h"

namespace tavro::test {

class ConnectedLineTest : public ::testing::Test {
protected:
    // Connected, configuration sent; the record starts empty at `t0`.
    void Connect(int port = 1)
    {
        ASSERT_EQ(c.Connect(port), 0u);
        line.ClearRecord();
        t0 = clock.TickCount();
    }
    // Brings the board into `mode` by the commands that take it there (with
    // a slew in force when `moving`), then starts the record afresh.
    void Enter(tavro::Mode mode, bool moving = false)
    {
        if (mode == MODE_MANUAL && moving)
            c.StartMove(tavro::MoveDirection::RaPlus, tavro::MoveSpeed::Slow);
        else if (mode == MODE_MANUAL)
            c.SelectMode(MODE_MANUAL);
        else if (mode == MODE_GOTO)
            c.SelectMode(MODE_GOTO);
        else if (mode == MODE_K3CCD)
            c.SelectMode(MODE_K3CCD);
        ASSERT_EQ(c.Mode(), mode);
        ASSERT_EQ(c.Moving(), moving);
        line.ClearRecord();
        t0 = clock.TickCount();
    }
    std::string Sent() const { return Trace(line, t0); }
    uint32_t Elapsed() { return clock.TickCount() - t0; }

    SimulatedClock clock{10000};
    FakeLine line{clock};
    CMountController c{clock, line.Factory()};
    uint32_t t0 = 0;
};

}  // namespace tavro::test
