// The host's models of the hardware as a fresh process finds them: SPI chain and converter present
// and quiet, no scripted shell replies.
#include "platform/host/I2cModel.h"
#include "platform/host/ShellScript.h"
#include "platform/host/SpiChain.h"
#include "support/ResetHooks.h"

static ResetHook platformReset([] {
    SpiChain::reset();
    I2cModel::reset();
    ShellScript::reset();
});
