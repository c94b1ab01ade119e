// The four groups a found file is sorted into. The name (a string-table entry) is a
// group's identity everywhere: in the found-file message, the results and the list files.
#pragma once

#include "platform/Types.h"

#include <array>

inline constexpr int kGroupCount = 4;

struct GroupEntry {
    UINT nNameId;
    UINT nFilterId;
};
// Documents, Images, Music, Video: name and filter string entries, in table order.
extern const std::array<GroupEntry, kGroupCount> g_groupTable;
