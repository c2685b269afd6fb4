// A core layer may not include a front end.
#include "app/wizard_flow.h"
