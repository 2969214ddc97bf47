#include "tests/e2e/driver.h"

using namespace driver;

TEST_F(AgentTest, SmokeRunAndRemove)
{
    InstallCorvex();
    HANDLE agent = StartTraymark();
    HWND window = WaitForAgentReady(agent);
    ASSERT_NE((HWND)NULL, window);
    EXPECT_FALSE(IsVisible(window));
    HANDLE remover = StartTraymark("/remove");
    EXPECT_TRUE(WaitForExit(remover, 10000));
    DWORD code = 1;
    EXPECT_TRUE(WaitForExit(agent, 10000, &code));
    EXPECT_EQ(0u, code);
    EXPECT_FALSE(MarkerPresent());
}
