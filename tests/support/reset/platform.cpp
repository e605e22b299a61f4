// The models of the hardware as a fresh process finds them: SPI chain and converter present and
// quiet, framebuffer blank, no scripted shell replies.
#include "platform/model/FramebufferModel.h"
#include "platform/model/I2cModel.h"
#include "platform/model/ShellScript.h"
#include "platform/model/SpiChain.h"
#include "support/ResetHooks.h"

static ResetHook platformReset([] {
    SpiChain::reset();
    I2cModel::reset();
    FramebufferModel::reset();
    ShellScript::reset();
});
