#include "app/OccupancyHtml.h"

#include <cstdio>

#include "core/DateTime.h"
#include "core/Encoding.h"

namespace bunkmere {
namespace {

// Screen and paper alike; the bars keep their colours in print, and the dorms of every
// facility are printed opened.
constexpr const char* kStyle = R"(
:root { --occupied: #2f5f8f; --shared: #b03a2e; --free: #8fc18f; }
body { font: 11pt/1.35 "DejaVu Sans", Arial, sans-serif; color: #111; margin: 1.5em auto;
       max-width: 60em; padding: 0 1em; }
h1 { font-size: 1.5em; margin: 0 0 .2em; }
h2 { font-size: 1.2em; margin: 1.4em 0 .4em; border-bottom: 1px solid #999; }
.meta { margin: 0 0 .8em; color: #333; }
.partial { border: 2px solid var(--shared); padding: .4em .6em; font-weight: bold; }
.preview { border: 2px dashed var(--occupied); padding: .4em .6em; }
table { border-collapse: collapse; margin: .4em 0 .8em; }
th, td { border: 1px solid #bbb; padding: .15em .5em; text-align: left; vertical-align: top; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
caption { text-align: left; font-weight: bold; padding: .2em 0; }
details { margin: .3em 0; break-inside: avoid; }
summary { cursor: pointer; }
summary svg.bar { margin-left: 1.1em; width: calc(100% - 1.1em); }
summary .name { font-weight: bold; }
svg.bar { display: block; width: 100%; height: 1.1em; margin: .2em 0; }
.legend span { display: inline-block; margin-right: 1.2em; }
.key { display: inline-block; width: .9em; height: .9em; margin-right: .3em; vertical-align: -.1em;
       print-color-adjust: exact; -webkit-print-color-adjust: exact; }
.conflict p { margin: .6em 0 .1em; font-family: "DejaVu Sans Mono", monospace; }
.conflict ul { margin: 0 0 .4em; }
@page { margin: 14mm 12mm; }
@media print {
  body { margin: 0; max-width: none; font-size: 10pt; }
  svg.bar, .key { print-color-adjust: exact; -webkit-print-color-adjust: exact; }
  details::details-content { content-visibility: visible; display: block; }
  table, .conflict { break-inside: avoid; }
  h2 { break-after: avoid; }
}
)";

struct TFigureRow {
  const char* Key;
  const char* Label;
  int TOccupancyFigures::*Field;
};

constexpr TFigureRow kFigureRows[] = {
    {"cells", "Cells", &TOccupancyFigures::Cells},
    {"beds", "Beds", &TOccupancyFigures::Beds},
    {"beds_occupied", "Beds occupied", &TOccupancyFigures::BedsOccupied},
    {"beds_free", "Beds free", &TOccupancyFigures::BedsFree},
    {"people", "People counted", &TOccupancyFigures::People},
    {"cells_over_allowance", "Cells over allowance", &TOccupancyFigures::CellsOverAllowance},
    {"beds_shared", "Beds with two or more", &TOccupancyFigures::BedsShared},
    {"rows_changed", "Rows changed", &TOccupancyFigures::RowsChanged},
};

std::string Num(int A) {
  return std::to_string(A);
}

const char* RowsChangedLabel(bool APreview) {
  return APreview ? "Rows that would change" : "Rows changed";
}

// A bar of the beds: one person, two or more, free. Drawn for the eye only; the same figures
// are in the table beside it.
std::string Bar(const TOccupancyFigures& A) {
  const int single = A.BedsOccupied - A.BedsShared;
  std::string out =
      "<svg class=\"bar\" viewBox=\"0 0 1000 20\" preserveAspectRatio=\"none\" "
      "aria-hidden=\"true\" focusable=\"false\"><rect x=\"0\" y=\"0\" width=\"1000\" "
      "height=\"20\" fill=\"#eee\"/>";
  if (A.Beds > 0) {
    double x = 0;
    for (const auto& [count, colour] :
         {std::pair{single, "var(--occupied)"}, std::pair{A.BedsShared, "var(--shared)"},
          std::pair{A.BedsFree, "var(--free)"}}) {
      if (count <= 0) continue;
      const double width = 1000.0 * count / A.Beds;
      char rect[160];
      std::snprintf(rect, sizeof rect,
                    "<rect x=\"%.2f\" y=\"0\" width=\"%.2f\" height=\"20\" style=\"fill:%s\"/>", x,
                    width, colour);
      out += rect;
      x += width;
    }
  }
  return out + "</svg>";
}

std::string FigureHeaders(bool APreview) {
  std::string out;
  for (const TFigureRow& row : kFigureRows)
    out += std::string("<th scope=\"col\">") +
           (row.Field == &TOccupancyFigures::RowsChanged ? RowsChangedLabel(APreview) : row.Label) +
           "</th>";
  return out;
}

std::string FigureCells(const TOccupancyFigures& A) {
  std::string out;
  for (const TFigureRow& row : kFigureRows)
    out += std::string("<td class=\"n\" data-figure=\"") + row.Key + "\">" + Num(A.*row.Field) +
           "</td>";
  return out;
}

std::string OutcomeText(const TOccupancyTally& ATally) {
  switch (ATally.Outcome()) {
    case TPassOutcome::Completed:
      return ATally.Preview() ? "Preview completed" : "Completed";
    case TPassOutcome::Held:
      return "Stopped at a held row";
    case TPassOutcome::Stopped:
      return "Stopped on request";
    case TPassOutcome::Failed:
      return "Failed";
    case TPassOutcome::Running:
    case TPassOutcome::None:
      break;
  }
  return "Not finished";
}

std::string Totals(const TOccupancyTally& ATally) {
  const TOccupancyFigures totals = ATally.Totals();
  std::string out = "<section aria-labelledby=\"totals-h\"><h2 id=\"totals-h\">Totals</h2>" +
                    Bar(totals) + "<table id=\"totals\"><caption>The jail";
  if (ATally.Partial()) out += " (partial)";
  out += "</caption><tbody>";
  for (const TFigureRow& row : kFigureRows)
    out += std::string("<tr><th scope=\"row\">") +
           (row.Field == &TOccupancyFigures::RowsChanged ? RowsChangedLabel(ATally.Preview())
                                                         : row.Label) +
           "</th><td class=\"n\" data-figure=\"" + row.Key + "\">" + Num(totals.*row.Field) +
           "</td></tr>";
  return out + "</tbody></table></section>\n";
}

std::string FacilityName(const TFacilityOccupancy& A) {
  if (A.Description.empty()) return HtmlEscape(A.Id);
  return HtmlEscape(A.Description) + " (" + HtmlEscape(A.Id) + ")";
}

std::string Facilities(const TOccupancyTally& ATally) {
  std::string out =
      "<section aria-labelledby=\"facilities-h\"><h2 id=\"facilities-h\">Facilities</h2>"
      "<p class=\"legend\" aria-hidden=\"true\"><span><span class=\"key\" "
      "style=\"background:var(--occupied)\"></span>bed occupied</span><span><span class=\"key\" "
      "style=\"background:var(--shared)\"></span>two or more in a bed</span><span><span "
      "class=\"key\" style=\"background:var(--free)\"></span>bed free</span></p>";
  if (ATally.Facilities().empty()) out += "<p>No facility was reached.</p>";
  for (const TFacilityOccupancy& f : ATally.Facilities()) {
    const TOccupancyFigures& a = f.Figures;
    out += "<details><summary><span class=\"name\">" + FacilityName(f) +
           "</span>: " + Num(a.BedsOccupied) + " of " + Num(a.Beds) + " beds occupied, " +
           Num(a.BedsFree) + " free, " + Num(a.BedsShared) + " with two or more" + Bar(a) +
           "</summary>";
    out += "<table class=\"dorms\"><caption>Dorms of " + FacilityName(f) +
           "</caption><thead><tr><th scope=\"col\">Dorm</th>" + FigureHeaders(ATally.Preview()) +
           "</tr></thead><tbody>";
    for (const TDormOccupancy& d : f.Dorms)
      out += "<tr><th scope=\"row\">" + HtmlEscape(d.Code) + "</th>" + FigureCells(d.Figures) +
             "</tr>";
    if (f.Dorms.empty())
      out += "<tr><td colspan=\"" + Num(std::size(kFigureRows) + 1) + "\">No dorm</td></tr>";
    out += "</tbody></table></details>\n";
  }
  // The same figures, one row per facility, for reading and comparing without opening each.
  out +=
      "<table id=\"facilities\"><caption>By facility</caption><thead><tr><th "
      "scope=\"col\">Facility</th>" +
      FigureHeaders(ATally.Preview()) + "</tr></thead><tbody>";
  for (const TFacilityOccupancy& f : ATally.Facilities())
    out += "<tr><th scope=\"row\">" + FacilityName(f) + "</th>" + FigureCells(f.Figures) + "</tr>";
  out += "</tbody><tfoot><tr><th scope=\"row\">Total</th>" + FigureCells(ATally.Totals()) +
         "</tr></tfoot></table></section>\n";
  return out;
}

std::string Conflicts(const TOccupancyTally& ATally) {
  std::string out = "<section aria-labelledby=\"conflicts-h\"><h2 id=\"conflicts-h\">Conflicts (" +
                    Num(static_cast<int>(ATally.Conflicts().size())) + ")</h2>";
  if (ATally.Conflicts().empty()) out += "<p>None.</p>";
  for (const TOccupancyConflict& c : ATally.Conflicts()) {
    out += "<div class=\"conflict\"><p>" + HtmlEscape(c.LogLine) + "</p>";
    if (c.BookNos.empty()) {
      out += "<p>No current booking was listed.</p>";
    } else {
      out += "<ul aria-label=\"Booking numbers\">";
      for (const std::string& b : c.BookNos) out += "<li>" + HtmlEscape(b) + "</li>";
      out += "</ul>";
    }
    out += "</div>\n";
  }
  return out + "</section>\n";
}

std::string Changes(const TOccupancyTally& ATally) {
  const bool preview = ATally.Preview();
  std::string out = "<section aria-labelledby=\"changes-h\"><h2 id=\"changes-h\">" +
                    std::string(RowsChangedLabel(preview)) + " (" +
                    Num(static_cast<int>(ATally.Changes().size())) + ")</h2>";
  if (ATally.Changes().empty()) return out + "<p>None.</p></section>\n";
  out +=
      "<table id=\"changes\"><thead><tr><th scope=\"col\">Facility</th><th "
      "scope=\"col\">Dorm</th><th scope=\"col\">Table</th><th scope=\"col\">Row</th><th "
      "scope=\"col\">Column</th><th scope=\"col\">Was</th><th scope=\"col\">" +
      std::string(preview ? "Would be" : "Now") + "</th></tr></thead><tbody>";
  for (const TOccupancyChange& c : ATally.Changes())
    for (const TRowChange::TColumn& col : c.Change.Columns)
      out += "<tr><td>" + HtmlEscape(c.FacilityId) + "</td><td>" + HtmlEscape(c.Dorm) +
             "</td><td>" + HtmlEscape(c.Change.Table) + "</td><td>" + HtmlEscape(c.Change.Key) +
             "</td><td>" + HtmlEscape(col.Name) + "</td><td>" + HtmlEscape(col.Now) + "</td><td>" +
             HtmlEscape(col.Would) + "</td></tr>";
  return out + "</tbody></table></section>\n";
}

}  // namespace

std::string HtmlEscape(std::string_view AText) {
  const std::string text = SanitizeUtf8(AText);
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string OccupancyHtml(const TOccupancyTally& ATally) {
  const std::string when = DateTimeToIsoText(ATally.When());
  const std::string whenShown =
      when.size() > 10 ? when.substr(0, 10) + " " + when.substr(11) : when;
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      // Nothing may be fetched, even by a link added later by mistake.
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
      "'unsafe-inline'; img-src data:\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>Bunkmere occupancy " +
      HtmlEscape(whenShown) + "</title><style>" + kStyle + "</style></head>\n<body>\n";
  out += "<h1>Occupancy" + std::string(ATally.Preview() ? " (preview)" : "") + "</h1>";
  out += "<p class=\"meta\">Pass of " + HtmlEscape(whenShown) + " on " +
         HtmlEscape(ATally.Workstation()) + ": <strong id=\"outcome\" data-outcome=\"" +
         OutcomeName(ATally.Outcome()) + "\">" + OutcomeText(ATally) + "</strong></p>\n";
  if (ATally.Partial())
    out +=
        "<p class=\"partial\" id=\"partial\">Partial: the pass did not complete. These figures "
        "cover only the cells and beds it reached; the rest of the jail is not in them.</p>\n";
  if (ATally.Preview())
    out +=
        "<p class=\"preview\">Preview: nothing was written. The rows listed are those a pass "
        "would change.</p>\n";
  out += Totals(ATally) + Facilities(ATally) + Conflicts(ATally) + Changes(ATally);
  return out + "</body></html>\n";
}

}  // namespace bunkmere
