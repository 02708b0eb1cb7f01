// The drivers' case table run through the stand-in builds of every extension, so that the table
// itself is checked in every test build, the sanitizer build included.
#include "gateway_cases.h"

#include <gtest/gtest.h>

TEST(GatewayCases, SpgaugePassesEveryCase)
{
    EXPECT_EQ(run_gateway_cases("spgauge", standin::load_mex(SPGAUGE_MODULE)), 0);
}

TEST(GatewayCases, DropsmallPassesEveryCase)
{
    EXPECT_EQ(run_gateway_cases("dropsmall", standin::load_mex(DROPSMALL_MODULE)), 0);
}

TEST(GatewayCases, DropmostPassesEveryCase)
{
    EXPECT_EQ(run_gateway_cases("dropmost", standin::load_mex(DROPMOST_MODULE)), 0);
}
