// A survey probe reaching up into the report it feeds: the layer check must refuse it.
#include "device/probe.h"
#include "report/checker.h"
#include "text/format.h"
