// A layer includes its own headers and those of every layer below it that it uses.
#include "decoders/source_types.h"
#include "pipeline/reader.h"
#include "platform/paths.h"
#include "player/preview_player.h"
#include "sources/file_adding.h"
