#pragma once
// Faults injected on request (--fault), so that tests can see how a client copes with a lost
// connection, a failing statement, a slow server, or data changed behind its back.
//
//   drop-after:N         the session sending the server's statement N+1 is closed without an
//                        answer (once; statements are counted across all sessions)
//   drop-on:PATTERN      every session sending a statement that contains PATTERN is closed
//                        without an answer
//   fail:NUMBER:PATTERN[|TEXT]
//                        a statement containing PATTERN is not run; it fails with error NUMBER
//                        (severity 16, state 1) and TEXT (default: a text naming the fault)
//   fail-at:N:NUMBER[|TEXT]
//                        the server's statement N fails the same way, whatever its text (once)
//   count:ROWS:PATTERN   a statement containing PATTERN first reports ROWS rows affected,
//                        as a trigger without SET NOCOUNT ON does before its statement's own
//                        count
//   delay:MS             every answer is sent MS milliseconds late
//   delay-on:MS:PATTERN  a statement containing PATTERN is answered MS milliseconds late
//   long-value:PATTERN:BYTES
//                        in the rows of a statement containing PATTERN, every non-NULL
//                        char/varchar/nchar/nvarchar value of a column not sent in parts (not
//                        MAX) is sent BYTES bytes long (1 to 65534; an e-acute repeated), longer
//                        than the length its column declares, as a broken or hostile server
//                        might
//   exec-after:N:SQL     once statement N has been answered, SQL runs in a server-owned
//                        session on the same database (it lives until the server stops, so
//                        ## tables it creates stay)
//   exec-before:PATTERN|SQL
//                        SQL runs the same way right before the first statement containing
//                        PATTERN does (once): another program acting at exactly that moment
//   drop-at-step:K       the session about to run step K (a statement within a request, nested
//                        ones included, counted across all sessions) is closed without an
//                        answer: nothing of step K or after it runs (once)
//   fail-at-step:K:NUMBER[|TEXT]
//                        step K does not run; it fails with error NUMBER (severity 16, state 1)
//                        as a run-time error, which a TRY block catches (once)
//
// PATTERN matches case-insensitively anywhere in the statement text (for RPC calls, the SQL
// text they run, or the procedure name). Counting starts at 1 with the first statement.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

struct FaultConfig {
  std::int64_t dropAfter = -1;
  std::vector<std::string> dropOn;
  struct Failure {
    int number = 0;
    std::string pattern;
    std::string text;
    std::int64_t at = -1;  // fail-at: the statement number instead of a pattern
  };
  std::vector<Failure> failures;
  struct ExtraCount {
    std::int64_t rows = 0;
    std::string pattern;
  };
  std::vector<ExtraCount> extraCounts;
  int delayMs = 0;
  struct DelayOn {
    int ms = 0;
    std::string pattern;
  };
  std::vector<DelayOn> delaysOn;
  struct ExecAfter {
    std::int64_t after = 0;
    std::string sql;
  };
  std::vector<ExecAfter> execAfter;
  struct ExecBefore {
    std::string pattern;
    std::string sql;
  };
  std::vector<ExecBefore> execBefore;
  struct LongValue {
    std::string pattern;
    std::uint32_t bytes = 0;
  };
  std::vector<LongValue> longValues;
  std::int64_t dropAtStep = -1;
  std::vector<Failure> stepFailures;  // `at` is the step

  // Adds one --fault spec; returns an error text, empty on success.
  std::string Add(std::string_view spec);

  bool ShouldDrop(std::int64_t seq, std::string_view text) const;
  const Failure* FailureFor(std::int64_t seq, std::string_view text) const;
  const Failure* FailureAtStep(std::int64_t step) const;
  const ExtraCount* ExtraCountFor(std::string_view text) const;
  // The delay of a statement with this text: delay plus every delay-on that matches.
  int DelayFor(std::string_view text) const;
  // The length long-value gives the values of a statement with this text; 0: none.
  std::uint32_t LongValueBytesFor(std::string_view text) const;
};

bool ContainsNoCase(std::string_view haystack, std::string_view needle);

}  // namespace standin
