// The effect blocks as a fresh process finds them: no amp-model player (their workers ended with
// the test).
#include "effects/NamPlayer.h"
#include "support/ResetHooks.h"

static ResetHook effectsReset([] { NamPlayer::instances.clear(); });
