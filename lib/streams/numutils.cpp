#include "numutils.h"

// The readers are inline; this file keeps the area's place in the library.
