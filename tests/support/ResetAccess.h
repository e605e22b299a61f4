#pragma once

// Modules whose statics are private name this template their friend; a reset hook specialises it
// for the module to reach them.
template <class Module>
struct TestReset;
