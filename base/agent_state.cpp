#include "base/agent_state.h"

AgentStateRecord AgentState;
