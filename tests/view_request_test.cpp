// The view with stand-ins for the reader's side: a reporting-mode request that
// comes before the view exists (a slow display) is kept and done as the view
// opens, once however often it was asked for.
#include <gtest/gtest.h>

#include "control/main_reader.h"
#include "view/sensor_view.h"

namespace {
int modesSent = 0;
}  // namespace

void ShutDownRemote() {}
void ResendReportingMode() { ++modesSent; }

TEST(SensorView, AModeRequestMadeBeforeTheViewOpensIsDoneAsItOpens) {
    RequestReportingMode();
    RequestReportingMode();
    EXPECT_EQ(modesSent, 0);
    ASSERT_TRUE(CreateSensorView());
    EXPECT_EQ(modesSent, 1);
    RequestClose();
}
