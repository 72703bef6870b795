// Statement blocks (BEGIN ... END), TRY...CATCH and RAISERROR: the constructs that hold other
// statements or steer what happens to their errors.

#include "standin/engine/ParserCore.h"

namespace standin {

namespace parser_detail {

Statement::Body Parser::Begin() {
  DepthGuard guard(*this);  // blocks nest statements within statements
  Expect("BEGIN");
  if (Peek().Is("DISTRIBUTED")) throw NotSupported("BEGIN DISTRIBUTED TRANSACTION");
  if (Peek().Is("DIALOG") || Peek().Is("CONVERSATION")) throw NotSupported("BEGIN DIALOG");
  if (Peek().Is("CATCH")) Fail();  // a CATCH block only follows its TRY block
  if (Accept("TRY")) {
    TryCatchStmt s;
    s.tryBody = StatementsUntil("TRY");
    // Nothing may stand between END TRY and BEGIN CATCH, not even a semicolon.
    if (!Peek().Is("BEGIN") || !Peek(1).Is("CATCH")) Fail();
    pos_ += 2;
    s.catchBody = StatementsUntil("CATCH");
    return s;
  }
  BlockStmt s;
  s.statements = StatementsUntil("");
  return s;
}

std::vector<Statement> Parser::StatementsUntil(std::string_view closing) {
  std::vector<Statement> out;
  while (true) {
    while (Peek().IsSymbol(";")) ++pos_;
    if (Peek().kind == Tok::End) Fail();
    if (Peek().Is("END")) {
      // A TRY block and a BEGIN ... END block need a statement; a CATCH block may be empty.
      if (out.empty() && closing != "CATCH") Fail();
      ++pos_;
      if (!closing.empty()) Expect(closing);
      return out;
    }
    out.push_back(Nested());
  }
}

int Parser::SmallInteger() {
  bool negative = AcceptSymbol("-");
  const Token& t = Peek();
  if (t.kind == Tok::Variable) throw NotSupported("RAISERROR with a variable argument");
  if (t.kind != Tok::Number || t.value.find_first_not_of("0123456789") != std::string::npos) Fail();
  ++pos_;
  // Anything past three digits is out of every range RAISERROR takes; keep it out of int.
  long value = t.value.size() > 6 ? 1000000 : std::strtol(t.value.c_str(), nullptr, 10);
  return static_cast<int>(negative ? -value : value);
}

RaiserrorStmt Parser::Raiserror() {
  Expect("RAISERROR");
  ExpectSymbol("(");
  RaiserrorStmt s;
  const Token& m = Peek();
  if (m.kind == Tok::Number) throw NotSupported("RAISERROR with a message number");
  if (m.kind == Tok::Variable) throw NotSupported("RAISERROR with a variable argument");
  if (m.kind != Tok::String && m.kind != Tok::NString) Fail();
  // %% stands for a percent sign; any other % takes an argument, which the stand-in lacks.
  for (std::string_view text = Next().value; !text.empty();) {
    std::size_t percent = text.find('%');
    s.message += text.substr(0, percent);
    if (percent == std::string_view::npos) break;
    if (percent + 1 >= text.size() || text[percent + 1] != '%')
      throw NotSupported("RAISERROR argument substitution");
    s.message += '%';
    text.remove_prefix(percent + 2);
  }
  ExpectSymbol(",");
  s.severity = SmallInteger();
  ExpectSymbol(",");
  s.state = SmallInteger();
  if (Peek().IsSymbol(",")) throw NotSupported("RAISERROR argument substitution");
  ExpectSymbol(")");
  if (Accept("WITH")) {
    do {
      // Messages reach the client when the batch's answer does; NOWAIT asks for nothing more.
      if (!Accept("NOWAIT")) throw NotSupported("RAISERROR WITH " + Upper(Peek().value));
    } while (AcceptSymbol(","));
  }
  return s;
}

}  // namespace parser_detail

}  // namespace standin
