// The catalogue and delivery stand side by side: neither includes the other.
#include "delivery/carriers.h"
