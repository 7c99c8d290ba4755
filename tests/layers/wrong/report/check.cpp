// Downward includes are fine.
#include "device/probe.h"
#include "text/format.h"
