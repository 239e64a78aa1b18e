#pragma once

// The option helpers moved below the filter and transform libraries, which parse options
// too; the factories keep including them from here.
#include "options/command_options.hpp"
