#pragma once
// TVtSQLDatabase: the family's connection component. It keeps no connection string of its
// own: it takes its program's string from a configuration-info component whenever the
// program name or the link changes, and again before every connect, so a site changes its
// database in one place. It never asks for a login, and the datasets it creates for others
// are the family's lockable queries.

#include <string>

#include "core/ValueType.h"
#include "dataaccess/MSConnection.h"

namespace bunkmere {

class TReader;
class TWriter;
class TVtCustomConfigInfo;
class TVtSQLDatabase;

// The connection's options with the family's defaults (no lock time-out, a stored Connected
// not acted on at load), and a stored provider entry that reads both forms older window
// descriptions hold: an identifier (prSQL) or a provider string ('SQLNCLI10.1'). The form
// read is the form written back.
class TVtSQLDatabaseOptions : public TMSConnectionOptions {
 public:
  explicit TVtSQLDatabaseOptions(TMSConnection* AConnection) : TMSConnectionOptions(AConnection) {}
  const char* ClassName() const noexcept override { return "TVtSQLDatabaseOptions"; }

  // The stored entry "Provider".
  void ReadProvider(TReader& AReader);
  void WriteProvider(TWriter& AWriter) const;
  bool ShouldWriteProvider() const;

  TValueType LoadedProviderValueType() const noexcept { return FLoadedProviderValueType; }
  const std::string& LoadedProviderText() const noexcept { return FLoadedProviderText; }

 private:
  std::string CurrentProviderString() const;

  TValueType FLoadedProviderValueType = TValueType::vaNull;
  std::string FLoadedProviderText;
};

class TVtSQLDatabase : public TMSConnection {
 public:
  explicit TVtSQLDatabase(TComponent* AOwner);
  const char* ClassName() const noexcept override { return "TVtSQLDatabase"; }

  std::string VtVersion() const { return "2.1"; }

  const std::string& ProgramName() const noexcept { return FProgramName; }
  // A non-empty name takes the connection string (again, also when unchanged); emptying a
  // name that was set clears it.
  void SetProgramName(const std::string& AValue);
  TVtCustomConfigInfo* VtConfigInfo() const noexcept { return FVtConfigInfo; }
  // Linking takes the program's connection string, unlinking clears it (with a program name).
  void SetVtConfigInfo(TVtCustomConfigInfo* AValue);

  TVtSQLDatabaseOptions& Options() const noexcept {
    return static_cast<TVtSQLDatabaseOptions&>(TMSConnection::Options());
  }
  // Copies the values of AValue into this connection's own options.
  void SetOptions(const TMSConnectionOptions& AValue) { Options().Assign(AValue); }

  // The program's help and log paths from the configuration-info component, asked on every
  // read; empty without one.
  std::string HelpFilePath() const;
  std::string LogFilePath() const;

  // A TVtMSQuery on this connection; with no owner, the caller frees it.
  TCustomMSDataSet* CreateDataSet(TComponent* AOwner) override;

  void Notification(TComponent* AComponent, TOperation Operation) override;

 protected:
  // Takes the connection string anew, then connects.
  void DoConnect() override;

 private:
  void TakeConnectString();
  void ClearConnectString();

  std::string FProgramName;
  TVtCustomConfigInfo* FVtConfigInfo = nullptr;
  TComponent* FVtConfigInfoComponent = nullptr;  // the same link, for removal notices
};

}  // namespace bunkmere
