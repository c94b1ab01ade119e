// The program's user-visible texts, loaded by number (see Resource.h).
#pragma once

#include "Resource.h"

#include <initializer_list>
#include <string>
#include <string_view>

// UTF-8 text of a string table entry; empty when the table has no such entry.
std::string LoadString(UINT nId);

// The entry with each "%s" replaced by the next of arrTexts, in order; a "%s" with no
// text left stays as it is.
std::string FormatString(UINT nId, std::initializer_list<std::string_view> arrTexts);
