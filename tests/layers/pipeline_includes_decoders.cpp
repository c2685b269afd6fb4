// The pipeline lies below the readers: it may not include them.
#include "decoders/source_types.h"
