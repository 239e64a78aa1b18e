#pragma once

// The option parsing helpers live with the LAS library, so that the point filter and the
// point transform (built below this library) parse their numbers the same way.
#include "las/command_options.hpp"
