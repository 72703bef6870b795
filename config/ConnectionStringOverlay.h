#pragma once
// Merging a connection-string overlay into a connection string.
//
// Sites hand every program of the family the same overlay (a server alias, an application
// name, a switch to drop integrated security) on top of the connection string each program
// has of its own. The merge is deliberately textual: pieces are neither trimmed nor checked,
// so whatever a site wrote reaches the connection unchanged and is judged there.

#include <string>
#include <string_view>

namespace bunkmere {

// Both texts are ";"-separated pieces, usually "name=value". For every overlay piece that has
// a name, the value of the first overlay piece bearing that name replaces the first piece of
// AOriginal with the same name (names compared without regard to letter case, the overlay's
// spelling of the name kept), or is appended when AOriginal has none; an empty value removes
// that piece instead. Pieces are joined with ";" and no ";" at the end.
std::string ApplyConnectionStringOverlay(std::string_view AOriginal, std::string_view AOverlay);

}  // namespace bunkmere
