#include "db/VtSQLDatabase.h"

#include <memory>

#include "config/VeltraneCfg.h"
#include "core/Reader.h"
#include "core/TypInfo.h"
#include "core/Writer.h"
#include "dataaccess/ConnectSettings.h"
#include "db/VtMSAccess.h"

namespace bunkmere {
namespace {

// A stored identifier that names no provider kind; connecting with it fails with the layer's
// "Wrong provider name", unless a connection string sets the provider first.
constexpr auto kUnknownProvider = static_cast<TOLEDBProvider>(0xFF);

// The provider kinds by name, in ordinal order, as stored descriptions spell them.
const TEnumType kProviderType{"TOLEDBProvider", {"prAuto", "prSQL", "prNativeClient", "prCompact"}};

}  // namespace

// ---- options: the stored provider entry ----

void TVtSQLDatabaseOptions::ReadProvider(TReader& AReader) {
  FLoadedProviderValueType = AReader.NextValue();
  if (FLoadedProviderValueType == TValueType::vaIdent) {
    FLoadedProviderText = AReader.ReadIdent();
    const std::optional<int> member = kProviderType.Find(FLoadedProviderText);
    SetProvider(member ? static_cast<TOLEDBProvider>(*member) : kUnknownProvider);
    return;
  }
  FLoadedProviderText = AReader.ReadString();
  const TNativeClientVersion current = NativeClientVersion();
  const std::optional<TProviderSelection> selected =
      ParseProviderString(FLoadedProviderText, current);
  SetProvider(selected ? selected->Provider : TOLEDBProvider::prAuto);
  SetCompactVersion(selected && selected->CompactVersion ? *selected->CompactVersion
                                                         : TCompactVersion::cvAuto);
  if (selected && selected->NativeClientVersion)
    SetNativeClientVersion(*selected->NativeClientVersion);
  else
    SetNativeClientVersion(current == TNativeClientVersion::nc2005 ? TNativeClientVersion::nc2005
                                                                   : TNativeClientVersion::ncAuto);
}

std::string TVtSQLDatabaseOptions::CurrentProviderString() const {
  return ProviderString(Provider(), NativeClientVersion(), CompactVersion());
}

bool TVtSQLDatabaseOptions::ShouldWriteProvider() const {
  if (Provider() != TOLEDBProvider::prAuto) return true;
  return FLoadedProviderValueType == TValueType::vaString &&
         CurrentProviderString() == FLoadedProviderText;
}

void TVtSQLDatabaseOptions::WriteProvider(TWriter& AWriter) const {
  if (FLoadedProviderValueType == TValueType::vaString) {
    AWriter.WriteString(CurrentProviderString());
    return;
  }
  const TEnumType& type = kProviderType;
  const auto ordinal = static_cast<std::size_t>(Provider());
  if (ordinal < type.Members.size())
    AWriter.WriteIdent(type.Members[ordinal]);
  else
    AWriter.WriteIdent(FLoadedProviderText);  // the unknown identifier, as it was read
}

// ---- the connection ----

TVtSQLDatabase::TVtSQLDatabase(TComponent* AOwner)
    : TMSConnection(AOwner, std::make_unique<TVtSQLDatabaseOptions>(this)) {
  Options().SetDefaultLockTimeout(-1);
  Options().SetKeepDesignConnected(false);
  ClearConnectString();
  SetVtConfigInfo(nullptr);
  if (IsDesigning() && Owner() != nullptr) {
    for (int i = 0; i < Owner()->ComponentCount(); ++i)
      if (auto* info = dynamic_cast<TVtCustomConfigInfo*>(Owner()->Components(i))) {
        SetVtConfigInfo(info);
        break;
      }
  }
}

void TVtSQLDatabase::SetProgramName(const std::string& AValue) {
  const std::string old = FProgramName;
  FProgramName = AValue;
  if (!AValue.empty())
    TakeConnectString();
  else if (!old.empty())
    ClearConnectString();
}

void TVtSQLDatabase::SetVtConfigInfo(TVtCustomConfigInfo* AValue) {
  FVtConfigInfo = AValue;
  FVtConfigInfoComponent = AValue;
  if (AValue != nullptr) {
    // A shared owner tells its components when one of them goes; otherwise ask to be told
    // (components without an owner share none).
    if (AValue->Owner() != Owner() || Owner() == nullptr) FreeNotification(AValue);
    if (!FProgramName.empty()) TakeConnectString();
  } else if (!FProgramName.empty()) {
    ClearConnectString();
  }
}

void TVtSQLDatabase::TakeConnectString() {
  if (FVtConfigInfo == nullptr) return;
  SetConnectString(FVtConfigInfo->GetConnectString(FProgramName));
  SetLoginPrompt(false);
}

void TVtSQLDatabase::ClearConnectString() {
  SetConnectString("");
  SetLoginPrompt(false);
}

std::string TVtSQLDatabase::HelpFilePath() const {
  return FVtConfigInfo == nullptr ? std::string() : FVtConfigInfo->GetHelpPath(FProgramName);
}

std::string TVtSQLDatabase::LogFilePath() const {
  return FVtConfigInfo == nullptr ? std::string() : FVtConfigInfo->GetLogPath(FProgramName);
}

void TVtSQLDatabase::DoConnect() {
  TakeConnectString();
  TMSConnection::DoConnect();
}

TCustomMSDataSet* TVtSQLDatabase::CreateDataSet(TComponent* AOwner) {
  // Held until it is handed over: with no owner the caller frees it, and a failure in
  // between must not leak it.
  std::unique_ptr<TVtMSQuery> query(new TVtMSQuery(AOwner));
  if (IsDesigning()) query->SetDesigning(true, true);
  query->SetConnection(this);
  return query.release();
}

void TVtSQLDatabase::Notification(TComponent* AComponent, TOperation Operation) {
  TMSConnection::Notification(AComponent, Operation);
  // Compared as the component it was linked as: by now it may be half destroyed.
  if (Operation != TOperation::opRemove || AComponent == nullptr ||
      AComponent != FVtConfigInfoComponent)
    return;
  if (IsDesigning()) {
    SetVtConfigInfo(nullptr);
  } else {
    // At run time the connection keeps the string it took; only the link goes, so that no
    // later connect asks a component that no longer exists.
    FVtConfigInfo = nullptr;
    FVtConfigInfoComponent = nullptr;
  }
}

}  // namespace bunkmere
