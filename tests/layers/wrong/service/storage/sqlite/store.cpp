// A database backend answering HTTP itself: the layer check must refuse it.
#include <boost/beast/http.hpp>
#include <sqlite3.h>

#include "service/domain/rules.h"
