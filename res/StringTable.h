// The program's user-visible texts, loaded by number (see Resource.h).
#pragma once

#include "Resource.h"

#include <string>

// UTF-8 text of a string table entry; empty when the table has no such entry.
std::string LoadString(UINT nId);
