// The HTTP layer deciding what a report means: the layer check must refuse it.
#include <boost/beast/core.hpp>

#include "service/domain/rules.h"
#include "service/http/http_types.h"
