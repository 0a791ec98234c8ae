#include "common/TextCodec.h"
// placeholder until built
