#pragma once
// A ResultSink that keeps everything a batch produced, for assertions, plus a fixture
// that gives each test a fresh engine in its own data folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "standin/Engine.h"

namespace standin::test {

struct Done {
  bool hasCount;
  std::int64_t count;
  bool error;
};

class RecordingSink : public ResultSink {
 public:
  void Columns(const std::vector<ColumnInfo>& columns) override { columns_.push_back(columns); }
  void Row(std::span<const Value> values) override {
    std::vector<std::string> row;
    for (const Value& v : values) {
      switch (v.kind) {
        case Value::Kind::Null:
          row.push_back("NULL");
          break;
        case Value::Kind::Int:
          row.push_back(std::to_string(v.i));
          break;
        case Value::Kind::Float: {
          char buf[64];
          std::snprintf(buf, sizeof buf, "%g", v.f);
          row.push_back(buf);
          break;
        }
        case Value::Kind::Text:
          row.push_back("'" + std::string(v.text) + "'");
          break;
      }
    }
    rows.push_back(std::move(row));
  }
  void StatementDone(bool hasCount, std::int64_t count, bool error) override {
    done.push_back({hasCount, count, error});
  }
  void Message(const ServerMessage& m) override { messages.push_back(m); }
  void DatabaseChanged(const std::string& from, const std::string& to) override {
    changes.emplace_back(from, to);
  }
  bool Cancelled() const override {
    return cancelAfterRows >= 0 && static_cast<int>(rows.size()) >= cancelAfterRows;
  }
  void TransactionChanged(Transaction change, std::uint64_t descriptor) override {
    transactions.emplace_back(change, descriptor);
  }

  // The first error's number, 0 when none.
  int Error() const {
    for (const auto& m : messages)
      if (m.severity > 10) return m.number;
    return 0;
  }
  std::string ErrorText() const {
    for (const auto& m : messages)
      if (m.severity > 10) return m.text;
    return {};
  }
  const std::vector<ColumnInfo>& LastColumns() const { return columns_.back(); }
  bool HasColumns() const { return !columns_.empty(); }

  std::vector<std::vector<std::string>> rows;
  std::vector<Done> done;
  std::vector<ServerMessage> messages;
  std::vector<std::pair<std::string, std::string>> changes;
  std::vector<std::pair<Transaction, std::uint64_t>> transactions;
  int cancelAfterRows = -1;

 private:
  std::vector<std::vector<ColumnInfo>> columns_;
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           ("standin_engine_" + std::to_string(::getpid()) + "_" + info->test_suite_name() + "_" +
            info->name());
    std::filesystem::remove_all(dir_);
    engine_ = Engine::Create({dir_.string()});
    engine_->RunScript("CREATE DATABASE JAIL");
    session_ = engine_->OpenSession(51, "JAIL");
  }
  void TearDown() override {
    session_.reset();
    engine_.reset();
    std::filesystem::remove_all(dir_);
  }

  // Runs a batch on the test's session and returns what it produced.
  RecordingSink Run(std::string_view sql, std::span<const Param> params = {}) {
    return RunOn(*session_, sql, params);
  }
  static RecordingSink RunOn(Session& s, std::string_view sql, std::span<const Param> params = {}) {
    RecordingSink sink;
    s.Execute(sql, params, sink);
    return sink;
  }
  // Runs a batch that must succeed.
  void Ok(std::string_view sql) {
    auto sink = Run(sql);
    ASSERT_EQ(sink.Error(), 0) << sql << ": " << sink.ErrorText();
  }
  // The rows of a query that must succeed.
  std::vector<std::vector<std::string>> Rows(std::string_view sql,
                                             std::span<const Param> params = {}) {
    auto sink = Run(sql, params);
    EXPECT_EQ(sink.Error(), 0) << sql << ": " << sink.ErrorText();
    return sink.rows;
  }

  std::filesystem::path dir_;
  std::unique_ptr<Engine> engine_;
  std::unique_ptr<Session> session_;
};

using Rowset = std::vector<std::vector<std::string>>;

inline Param TextParam(std::string name, std::string text, SqlType type = SqlType::NVarChar) {
  Param p;
  p.name = std::move(name);
  p.type.type = type;
  p.type.length = 4000;
  p.isNull = false;
  p.text = std::move(text);
  return p;
}

inline Param IntParam(std::string name, std::int64_t value) {
  Param p;
  p.name = std::move(name);
  p.type.type = SqlType::Int;
  p.isNull = false;
  p.i = value;
  return p;
}

}  // namespace standin::test
