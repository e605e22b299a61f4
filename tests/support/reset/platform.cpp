// The models of the hardware as a fresh process finds them: SPI chain and converter present and
// quiet, framebuffer blank, no scripted shell replies; the clock running.
#include "platform/model/FramebufferModel.h"
#include "platform/model/I2cModel.h"
#include "platform/model/ShellScript.h"
#include "platform/model/SpiChain.h"
#include "porting/Clock.h"
#include "support/ResetHooks.h"

static ResetHook platformReset([] {
    SpiChain::reset();
    I2cModel::reset();
    FramebufferModel::reset();
    ShellScript::reset();
    esp_timer_hold_for_tests(0);
    esp_timer_step_for_tests(0);
});
