#pragma once
// The occupancy of a pass as JSON for a site's monitoring to read: the document the schema
// packaging/bunkmere-occupancy.schema.json describes, "schema": "bunkmere-occupancy/1". A
// change that could break a reader of version 1 takes a new version.

#include <string>

#include "app/Occupancy.h"

namespace bunkmere {

inline constexpr const char* kOccupancySchema = "bunkmere-occupancy/1";

// UTF-8, whatever the database's text held (malformed sequences become U+FFFD).
std::string OccupancyJson(const TOccupancyTally& ATally);

}  // namespace bunkmere
