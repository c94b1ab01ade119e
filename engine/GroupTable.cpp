#include "GroupTable.h"

#include "Resource.h"

const std::array<GroupEntry, kGroupCount> g_groupTable = {{
    {IDS_GROUP_DOCUMENTS, IDS_FILTER_DOCUMENTS},
    {IDS_GROUP_IMAGES, IDS_FILTER_IMAGES},
    {IDS_GROUP_MUSIC, IDS_FILTER_MUSIC},
    {IDS_GROUP_VIDEO, IDS_FILTER_VIDEO},
}};
