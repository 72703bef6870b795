#include "standin/engine/Functions.h"

#include <cstring>
#include <string>
#include <vector>

#include "standin/engine/Convert.h"
#include "standin/engine/EngineCore.h"

namespace standin {

namespace {

// Decodes one UTF-8 code point; invalid bytes stand for themselves.
char32_t Decode(std::string_view s, std::size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
  if (i + static_cast<std::size_t>(len) > s.size()) len = 1;
  char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
  for (int k = 1; k < len; ++k) {
    unsigned char cc = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((cc & 0xC0) != 0x80) {
      len = 1;
      cp = c;
      break;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += static_cast<std::size_t>(len);
  return cp;
}

// Case folding for ASCII and Latin-1, which is what site data holds.
char32_t FoldCase(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  return c;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

int Collate(void*, int na, const void* a, int nb, const void* b) {
  return CompareNoCase(std::string_view(static_cast<const char*>(a), static_cast<std::size_t>(na)),
                       std::string_view(static_cast<const char*>(b), static_cast<std::size_t>(nb)));
}

EngineCore* Core(sqlite3_context* ctx) {
  return static_cast<EngineCore*>(sqlite3_user_data(ctx));
}

void Fail(sqlite3_context* ctx, SqlError error) {
  EngineCore* core = Core(ctx);
  std::string text = error.message.text;
  if (core->current) core->current->error = std::move(error);
  sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
}

Dyn FromValue(sqlite3_value* v) {
  Dyn d;
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      d.kind = Dyn::Kind::Int;
      d.i = sqlite3_value_int64(v);
      break;
    case SQLITE_FLOAT:
      d.kind = Dyn::Kind::Float;
      d.f = sqlite3_value_double(v);
      break;
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      d.kind = Dyn::Kind::Text;
      const char* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
      d.text = std::string_view(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(v)));
      break;
    }
    default:
      break;
  }
  return d;
}

void Result(sqlite3_context* ctx, const Dyn& d) {
  switch (d.kind) {
    case Dyn::Kind::Null:
      sqlite3_result_null(ctx);
      break;
    case Dyn::Kind::Int:
      sqlite3_result_int64(ctx, d.i);
      break;
    case Dyn::Kind::Float:
      sqlite3_result_double(ctx, d.f);
      break;
    case Dyn::Kind::Text:
      sqlite3_result_text(ctx, d.text.data(), static_cast<int>(d.text.size()), SQLITE_TRANSIENT);
      break;
  }
}

std::string_view TextArg(sqlite3_value* v) {
  const char* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
  return std::string_view(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(v)));
}

void RecordKey(EngineCore* core, int slot, const Dyn& d) {
  if (slot <= 0 || !core->current) return;
  auto& keys = core->current->keyValues;
  if (keys.size() < static_cast<std::size_t>(slot)) keys.resize(static_cast<std::size_t>(slot));
  std::string& out = keys[static_cast<std::size_t>(slot - 1)];
  switch (d.kind) {
    case Dyn::Kind::Null:
      out = "<NULL>";
      break;
    case Dyn::Kind::Int:
      out = std::to_string(d.i);
      break;
    case Dyn::Kind::Float: {
      char buf[64];
      out.assign(buf, static_cast<std::size_t>(FormatDecimal(d.f, 0, buf)));
      break;
    }
    case Dyn::Kind::Text:
      out.assign(d.text);
      break;
  }
}

void Conv(sqlite3_context* ctx, int, sqlite3_value** argv) {
  EngineCore* core = Core(ctx);
  TypeSpec target;
  target.type = static_cast<SqlType>(sqlite3_value_int(argv[1]));
  target.length = sqlite3_value_int(argv[2]);
  target.precision = sqlite3_value_int(argv[3]);
  target.scale = sqlite3_value_int(argv[4]);
  int flags = sqlite3_value_int(argv[5]);
  int slot = sqlite3_value_int(argv[6]);
  Dyn in = FromValue(argv[0]);
  if (in.kind == Dyn::Kind::Null && (flags & kConvNotNull)) {
    auto e = MakeError(515,
                       FormatMessage("Cannot insert the value NULL into column '%s', table "
                                     "'%s'; column does not allow nulls. %s fails.",
                                     {TextArg(argv[7]), TextArg(argv[8]),
                                      (flags & kConvInsert) ? "INSERT" : "UPDATE"}),
                       2);
    e.statementTerminated = true;
    return Fail(ctx, std::move(e));
  }
  if ((flags & kConvTyped) && target.type == SqlType::DateTime && in.kind == Dyn::Kind::Text &&
      in.text.size() == kDateTimeTextSize) {
    RecordKey(core, slot, in);
    return Result(ctx, in);
  }
  try {
    thread_local std::string buffer;
    DateOrder order = core->current ? core->current->session->dateOrder : DateOrder::MDY;
    Dyn out = ConvertValue(in, target, order,
                           (flags & kConvCast) ? ConvertMode::Cast : ConvertMode::Store, buffer);
    RecordKey(core, slot, out);
    Result(ctx, out);
  } catch (SqlError& e) {
    Fail(ctx, std::move(e));
  }
}

void Ident(sqlite3_context* ctx, int, sqlite3_value** argv) {
  EngineCore* core = Core(ctx);
  Database* db = core->Find(TextArg(argv[0]));
  auto table = db ? db->Find(TextArg(argv[1])) : nullptr;
  if (!table) return Fail(ctx, MakeError(50000, "identity of a table that no longer exists"));
  std::int64_t value = table->identityNext;
  table->identityNext += table->identityStep;
  if (core->current) {
    core->current->session->hasIdentity = true;
    core->current->session->lastIdentity = value;
  }
  Dyn d;
  d.kind = Dyn::Kind::Int;
  d.i = value;
  RecordKey(core, sqlite3_value_int(argv[2]), d);
  sqlite3_result_int64(ctx, value);
}

void Like(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL)
    return sqlite3_result_null(ctx);
  int escape = -1;
  if (argc > 2) {
    std::string_view e = TextArg(argv[2]);
    std::size_t i = 0;
    if (!e.empty()) escape = static_cast<int>(Decode(e, i));
  }
  sqlite3_result_int(ctx, LikeMatch(TextArg(argv[0]), TextArg(argv[1]), escape));
}

void GetDate(sqlite3_context* ctx, int, sqlite3_value**) {
  char out[kDateTimeTextSize];
  NowAsDateTime(out);
  sqlite3_result_text(ctx, out, kDateTimeTextSize, SQLITE_TRANSIENT);
}

void SessionFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  EngineCore* core = Core(ctx);
  if (!core->current) return sqlite3_result_null(ctx);
  const SessionState& s = *core->current->session;
  switch (sqlite3_value_int(argv[0])) {
    case kSpid:
      return sqlite3_result_int(ctx, s.spid);
    case kIdentity:
      if (!s.hasIdentity) return sqlite3_result_null(ctx);
      return sqlite3_result_int64(ctx, s.lastIdentity);
    case kRowCount:
      return sqlite3_result_int64(ctx, s.rowCount);
    case kTextSize:
      return sqlite3_result_int(ctx, s.textSize);
    case kTranCount:
      return sqlite3_result_int(ctx, s.tranCount);
    case kLockTimeout:
      return sqlite3_result_int(ctx, s.lockTimeoutMs);
    default:
      break;
  }
  if (s.handling.empty()) return sqlite3_result_null(ctx);
  const ServerMessage& e = s.handling.back();
  switch (sqlite3_value_int(argv[0])) {
    case kErrorNumber:
      return sqlite3_result_int(ctx, e.number);
    case kErrorSeverity:
      return sqlite3_result_int(ctx, e.severity);
    case kErrorState:
      return sqlite3_result_int(ctx, e.state);
    case kErrorLine:
      return sqlite3_result_int(ctx, e.line);
    case kErrorMessage:
      return sqlite3_result_text(ctx, e.text.data(), static_cast<int>(e.text.size()),
                                 SQLITE_TRANSIENT);
    default:
      return sqlite3_result_null(ctx);
  }
}

struct PatternItem {
  enum Kind { Char, Any, Many, Set } kind = Char;
  char32_t c = 0;
  std::size_t setBegin = 0, setEnd = 0;  // into the pattern text, for Set
  bool negated = false;
};

bool InSet(std::string_view pattern, const PatternItem& item, char32_t c) {
  bool found = false;
  std::size_t i = item.setBegin;
  char32_t prev = 0;
  bool havePrev = false;
  while (i < item.setEnd) {
    char32_t p = FoldCase(Decode(pattern, i));
    if (p == '-' && havePrev && i < item.setEnd) {
      char32_t hi = FoldCase(Decode(pattern, i));
      if (c >= prev && c <= hi) found = true;
      havePrev = false;
      continue;
    }
    if (p == c) found = true;
    prev = p;
    havePrev = true;
  }
  return found != item.negated;
}

bool MatchOne(std::string_view pattern, const PatternItem& item, char32_t c) {
  switch (item.kind) {
    case PatternItem::Char:
      return item.c == c;
    case PatternItem::Any:
      return true;
    case PatternItem::Set:
      return InSet(pattern, item, c);
    case PatternItem::Many:
      return false;
  }
  return false;
}

bool MatchCodes(std::string_view pattern, const std::vector<PatternItem>& items,
                const std::vector<char32_t>& text) {
  // Greedy matching with backtracking to the last '%'.
  std::size_t t = 0, p = 0, starP = std::string::npos, starT = 0;
  while (t < text.size()) {
    if (p < items.size() && items[p].kind == PatternItem::Many) {
      starP = p++;
      starT = t;
    } else if (p < items.size() && MatchOne(pattern, items[p], text[t])) {
      ++p;
      ++t;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < items.size() && items[p].kind == PatternItem::Many) ++p;
  return p == items.size();
}

}  // namespace

int CompareNoCase(std::string_view a, std::string_view b) {
  a = TrimRight(a);
  b = TrimRight(b);
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    char32_t x = FoldCase(Decode(a, i)), y = FoldCase(Decode(b, j));
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

bool LikeMatch(std::string_view value, std::string_view pattern, int escape) {
  thread_local std::vector<PatternItem> items;
  thread_local std::vector<char32_t> text;
  items.clear();
  for (std::size_t i = 0; i < pattern.size();) {
    PatternItem item;
    char32_t c = Decode(pattern, i);
    if (escape >= 0 && c == static_cast<char32_t>(escape) && i < pattern.size()) {
      item.c = FoldCase(Decode(pattern, i));
    } else if (c == '%') {
      item.kind = PatternItem::Many;
    } else if (c == '_') {
      item.kind = PatternItem::Any;
    } else if (c == '[' && pattern.find(']', i) != std::string_view::npos) {
      item.kind = PatternItem::Set;
      if (i < pattern.size() && pattern[i] == '^') {
        item.negated = true;
        ++i;
      }
      item.setBegin = i;
      item.setEnd = pattern.find(']', i + (i < pattern.size() && pattern[i] == ']' ? 1 : 0));
      if (item.setEnd == std::string_view::npos) item.setEnd = pattern.size();
      i = std::min(item.setEnd + 1, pattern.size());
    } else {
      item.c = FoldCase(c);
    }
    items.push_back(item);
  }
  auto decode = [](std::string_view s) {
    text.clear();
    for (std::size_t i = 0; i < s.size();) text.push_back(FoldCase(Decode(s, i)));
  };
  // SQL Server ignores trailing blanks of the value being matched.
  decode(TrimRight(value));
  if (MatchCodes(pattern, items, text)) return true;
  if (TrimRight(value).size() == value.size()) return false;
  decode(value);
  return MatchCodes(pattern, items, text);
}

void RegisterFunctions(sqlite3* db, EngineCore* core) {
  sqlite3_create_collation_v2(db, "SQLSRV", SQLITE_UTF8, nullptr, Collate, nullptr);
  const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function_v2(db, "ss_conv", 9, det, core, Conv, nullptr, nullptr, nullptr);
  // Storing converts row by row (never hoisted as a constant), so a failing row's own key
  // is the one recorded for the duplicate-key message.
  sqlite3_create_function_v2(db, "ss_store", 9, SQLITE_UTF8, core, Conv, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db, "ss_ident", 3, SQLITE_UTF8, core, Ident, nullptr, nullptr,
                             nullptr);
  sqlite3_create_function_v2(db, "ss_like", 2, det, core, Like, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db, "ss_like", 3, det, core, Like, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db, "ss_getdate", 0, SQLITE_UTF8, core, GetDate, nullptr, nullptr,
                             nullptr);
  sqlite3_create_function_v2(db, "ss_session", 1, SQLITE_UTF8, core, SessionFn, nullptr, nullptr,
                             nullptr);
}

}  // namespace standin
