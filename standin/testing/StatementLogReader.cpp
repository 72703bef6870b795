#include "standin/testing/StatementLogReader.h"

#include <charconv>
#include <map>
#include <memory>
#include <stdexcept>
#include <variant>

namespace standin::testing {
namespace {

struct Json;
using JsonObject = std::map<std::string, Json>;
using JsonArray = std::vector<Json>;
struct Json {
  std::variant<std::monostate, bool, double, std::string, std::shared_ptr<JsonArray>,
               std::shared_ptr<JsonObject>>
      v;
};

class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}
  Json Parse() {
    Json j = Value();
    Ws();
    if (i_ != s_.size()) Fail();
    return j;
  }

 private:
  [[noreturn]] void Fail() { throw std::runtime_error("malformed JSON"); }
  void Ws() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n'))
      ++i_;
  }
  bool Eat(char c) {
    Ws();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Eat(c)) Fail();
  }
  bool Word(std::string_view w) {
    if (s_.substr(i_, w.size()) == w) {
      i_ += w.size();
      return true;
    }
    return false;
  }
  std::string String() {
    Expect('"');
    std::string out;
    while (i_ < s_.size() && s_[i_] != '"') {
      char c = s_[i_++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= s_.size()) Fail();
      char e = s_[i_++];
      switch (e) {
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          if (i_ + 4 > s_.size()) Fail();
          unsigned cp = 0;
          auto [p, ec] = std::from_chars(s_.data() + i_, s_.data() + i_ + 4, cp, 16);
          if (ec != std::errc{} || p != s_.data() + i_ + 4) Fail();
          i_ += 4;
          if (cp < 0x80) {
            out += static_cast<char>(cp);
          } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
          } else {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
          }
          break;
        }
        default:
          out += e;
      }
    }
    if (i_ >= s_.size()) Fail();
    ++i_;
    return out;
  }
  Json Value() {
    Ws();
    if (i_ >= s_.size()) Fail();
    char c = s_[i_];
    if (c == '"') return {String()};
    if (c == '{') {
      ++i_;
      auto obj = std::make_shared<JsonObject>();
      if (!Eat('}')) {
        do {
          Ws();
          std::string key = String();
          Expect(':');
          (*obj)[key] = Value();
        } while (Eat(','));
        Expect('}');
      }
      return {obj};
    }
    if (c == '[') {
      ++i_;
      auto arr = std::make_shared<JsonArray>();
      if (!Eat(']')) {
        do arr->push_back(Value());
        while (Eat(','));
        Expect(']');
      }
      return {arr};
    }
    if (Word("null")) return {};
    if (Word("true")) return {true};
    if (Word("false")) return {false};
    std::size_t start = i_;
    while (i_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[i_])) || s_[i_] == '-' ||
                              s_[i_] == '.' || s_[i_] == 'e' || s_[i_] == 'E' || s_[i_] == '+'))
      ++i_;
    double d = 0;
    auto [p, ec] = std::from_chars(s_.data() + start, s_.data() + i_, d);
    if (start == i_ || ec != std::errc{} || p != s_.data() + i_) Fail();
    return {d};
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

const Json& Field(const JsonObject& o, const char* key) {
  auto it = o.find(key);
  if (it == o.end()) throw std::runtime_error(std::string("missing field ") + key);
  return it->second;
}
const std::string& Str(const Json& j) {
  if (auto* s = std::get_if<std::string>(&j.v)) return *s;
  throw std::runtime_error("expected a string");
}
double Num(const Json& j) {
  if (auto* d = std::get_if<double>(&j.v)) return *d;
  throw std::runtime_error("expected a number");
}

bool Bool(const Json& j) {
  if (auto* b = std::get_if<bool>(&j.v)) return *b;
  throw std::runtime_error("expected true or false");
}

// Calls ARead with each complete line's object; a malformed line throws naming it.
template <typename F>
void ForEachRecord(std::string_view text, const char* what, F&& ARead) {
  std::size_t lineNo = 0;
  while (!text.empty()) {
    auto nl = text.find('\n');
    if (nl == std::string_view::npos) break;  // a record still being written
    auto line = text.substr(0, nl);
    text.remove_prefix(nl + 1);
    ++lineNo;
    if (line.empty()) continue;
    try {
      Json j = Parser(line).Parse();
      auto* obj = std::get_if<std::shared_ptr<JsonObject>>(&j.v);
      if (!obj) throw std::runtime_error("record is not an object");
      ARead(**obj);
    } catch (const std::exception& e) {
      throw std::runtime_error(std::string(what) + " line " + std::to_string(lineNo) + ": " +
                               e.what());
    }
  }
}

}  // namespace

std::vector<LoggedSession> ParseSessionLog(std::string_view text) {
  std::vector<LoggedSession> out;
  ForEachRecord(text, "session record", [&out](const JsonObject& o) {
    LoggedSession s;
    s.spid = static_cast<int>(Num(Field(o, "spid")));
    s.user = Str(Field(o, "user"));
    s.clientEncrypt = Str(Field(o, "client_encrypt"));
    s.serverEncrypt = Str(Field(o, "server_encrypt"));
    s.tls = Str(Field(o, "tls"));
    s.strict = Bool(Field(o, "strict"));
    s.loginEncrypted = Bool(Field(o, "login_encrypted"));
    s.dataEncrypted = Bool(Field(o, "data_encrypted"));
    s.outcome = Str(Field(o, "outcome"));
    out.push_back(std::move(s));
  });
  return out;
}

std::vector<LoggedStatement> ParseStatementLog(std::string_view text) {
  std::vector<LoggedStatement> out;
  std::size_t lineNo = 0;
  while (!text.empty()) {
    auto nl = text.find('\n');
    if (nl == std::string_view::npos) break;  // a record still being written
    auto line = text.substr(0, nl);
    text.remove_prefix(nl + 1);
    ++lineNo;
    if (line.empty()) continue;
    try {
      Json j = Parser(line).Parse();
      auto* obj = std::get_if<std::shared_ptr<JsonObject>>(&j.v);
      if (!obj) throw std::runtime_error("record is not an object");
      const auto& o = **obj;
      LoggedStatement s;
      s.seq = static_cast<std::int64_t>(Num(Field(o, "seq")));
      s.spid = static_cast<int>(Num(Field(o, "spid")));
      s.kind = Str(Field(o, "kind"));
      if (s.kind == "step") {
        s.step = static_cast<std::int64_t>(Num(Field(o, "step")));
        s.line = static_cast<int>(Num(Field(o, "line")));
      } else {
        s.proc = Str(Field(o, "proc"));
      }
      s.sql = Str(Field(o, "sql"));
      auto* params = std::get_if<std::shared_ptr<JsonArray>>(&Field(o, "params").v);
      if (!params) throw std::runtime_error("params is not an array");
      for (const auto& pj : **params) {
        auto* po = std::get_if<std::shared_ptr<JsonObject>>(&pj.v);
        if (!po) throw std::runtime_error("param is not an object");
        LoggedParam p;
        p.name = Str(Field(**po, "name"));
        p.type = Str(Field(**po, "type"));
        const Json& v = Field(**po, "value");
        if (!std::holds_alternative<std::monostate>(v.v)) p.value = Str(v);
        s.params.push_back(std::move(p));
      }
      out.push_back(std::move(s));
    } catch (const std::exception& e) {
      throw std::runtime_error("statement log line " + std::to_string(lineNo) + ": " + e.what());
    }
  }
  return out;
}

}  // namespace standin::testing
