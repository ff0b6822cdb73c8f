// What the row scan's functions (tesselPgRows.cpp) take from the module's side
// (tesselPg.cpp). Include after postgres.h.
#pragma once

#include "tesselCatalog.h"

#include <cstddef>

namespace tesselpg {

// The database code page; an encoding that Tessel cannot convert is an error.
int32 databaseCodePage();
// A routine's DATE, TIME or TIMESTAMP text as PostgreSQL's value; false when it is none.
bool datetimeOf(tessel::SqlType type, const char *text, size_t length, Datum *result);

} // namespace tesselpg
