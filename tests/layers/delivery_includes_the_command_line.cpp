// A core layer may not include a front end.
#include "cli/options.h"
