#include <gtest/gtest.h>
#include <signal.h>

#include "proc.h"

TEST(CliStartup, SigtermExitsZero) {
    TempDir home;
    Proc p(CliPath(), {}, {"OXEL_HOME=" + home.path()});
    usleep(300 * 1000);
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(5000), 0);
}
