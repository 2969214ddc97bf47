#include <windows.h>

#include <gtest/gtest.h>

#include "base/agent_state.h"

int main(int argc, char **argv)
{
    // The agent's resources are linked into this program.
    AgentState.hInstance = GetModuleHandleA(NULL);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
