#include "app/agent_state.h"

AgentStateRecord AgentState;
