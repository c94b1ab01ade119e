// What tarrow-scan's JSON says of the backups given with --backed-up.
#pragma once

#include "BackupIndex.h"

#include <string>

// ', "notBackedUp": {"files": N, "bytes": N}' of a group, or of all groups (nGroup -1).
std::string NotBackedUpJson(const CNotBackedUp& notBackedUp, int nGroup);

// The value of "backups": each listing as it describes itself, null where it does not.
std::string BackupsJson(const CBackupIndex& backups);
