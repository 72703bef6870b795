#include "app/OccupancyJson.h"

#include <cstdio>

#include "core/DateTime.h"
#include "core/Encoding.h"

namespace bunkmere {
namespace {

std::string Quoted(std::string_view AText) {
  const std::string text = SanitizeUtf8(AText);
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      // Kept out so that the document can be pasted into a page or a log without markup.
      case '<':
      case '>':
      case '&':
      default:
        if (c < 0x20 || c == '<' || c == '>' || c == '&') {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string Figures(const TOccupancyFigures& A) {
  return "{\"cells\": " + std::to_string(A.Cells) + ", \"beds\": " + std::to_string(A.Beds) +
         ", \"beds_occupied\": " + std::to_string(A.BedsOccupied) +
         ", \"beds_free\": " + std::to_string(A.BedsFree) +
         ", \"beds_shared\": " + std::to_string(A.BedsShared) +
         ", \"people\": " + std::to_string(A.People) +
         ", \"cells_over_allowance\": " + std::to_string(A.CellsOverAllowance) +
         ", \"rows_changed\": " + std::to_string(A.RowsChanged) + "}";
}

template <class T, class F>
std::string List(const std::vector<T>& AItems, const std::string& AIndent, F AEach) {
  if (AItems.empty()) return "[]";
  std::string out = "[\n";
  for (std::size_t i = 0; i < AItems.size(); ++i)
    out += AIndent + "  " + AEach(AItems[i]) + (i + 1 < AItems.size() ? ",\n" : "\n");
  return out + AIndent + "]";
}

}  // namespace

std::string OccupancyJson(const TOccupancyTally& ATally) {
  std::string out = "{\n";
  out += "  \"schema\": " + Quoted(kOccupancySchema) + ",\n";
  out += "  \"time\": " + Quoted(DateTimeToIsoText(ATally.When())) + ",\n";
  out += "  \"workstation\": " + Quoted(ATally.Workstation()) + ",\n";
  out += std::string("  \"preview\": ") + (ATally.Preview() ? "true" : "false") + ",\n";
  out += "  \"outcome\": " + Quoted(OutcomeName(ATally.Outcome())) + ",\n";
  out += std::string("  \"partial\": ") + (ATally.Partial() ? "true" : "false") + ",\n";
  out += "  \"totals\": " + Figures(ATally.Totals()) + ",\n";
  out += "  \"facilities\": " +
         List(ATally.Facilities(), "  ",
              [](const TFacilityOccupancy& f) {
                return "{\"id\": " + Quoted(f.Id) + ", \"description\": " + Quoted(f.Description) +
                       ",\n     \"figures\": " + Figures(f.Figures) + ",\n     \"dorms\": " +
                       List(f.Dorms, "     ",
                            [](const TDormOccupancy& d) {
                              return "{\"code\": " + Quoted(d.Code) +
                                     ", \"figures\": " + Figures(d.Figures) + "}";
                            }) +
                       "}";
              }) +
         ",\n";
  out += "  \"conflicts\": " +
         List(ATally.Conflicts(), "  ",
              [](const TOccupancyConflict& c) {
                std::string books = "[";
                for (std::size_t i = 0; i < c.BookNos.size(); ++i)
                  books += (i ? ", " : "") + Quoted(c.BookNos[i]);
                return "{\"facility\": " + Quoted(c.FacilityId) + ", \"dorm\": " + Quoted(c.Dorm) +
                       ", \"line\": " + Quoted(c.LogLine) + ", \"bookings\": " + books + "]}";
              }) +
         ",\n";
  out += "  \"changes\": " +
         List(ATally.Changes(), "  ",
              [](const TOccupancyChange& c) {
                std::string columns = "[";
                for (std::size_t i = 0; i < c.Change.Columns.size(); ++i) {
                  const TRowChange::TColumn& col = c.Change.Columns[i];
                  columns += std::string(i ? ", " : "") + "{\"name\": " + Quoted(col.Name) +
                             ", \"before\": " + Quoted(col.Now) +
                             ", \"after\": " + Quoted(col.Would) + "}";
                }
                return "{\"facility\": " + Quoted(c.FacilityId) + ", \"dorm\": " + Quoted(c.Dorm) +
                       ", \"table\": " + Quoted(c.Change.Table) +
                       ", \"key\": " + Quoted(c.Change.Key) + ", \"columns\": " + columns + "]}";
              }) +
         "\n";
  return out + "}\n";
}

}  // namespace bunkmere
