#include "config/ConfigClasses.h"

#include "config/VeltraneCfg.h"
#include "config/VtConfigInfo.h"
#include "core/ClassRegistry.h"

namespace bunkmere {

void RegisterConfigClasses() {
  static const bool done = [] {
    RegisterCoreClasses();
    // The switches come first so that a description applies them before the values they
    // unlock; every hand-set value is stored only while its switch is on.
    const auto by_hand = [](const TVeltraneIni& c) { return c.OverrideSettings(); };
    const auto file_by_hand = [](const TVeltraneIni& c) { return c.OverrideIniFileName(); };
    Register<TVeltraneIni, TComponent>("TVeltraneIni")
        .Boolean("OverrideIniFileName", &TVeltraneIni::OverrideIniFileName,
                 &TVeltraneIni::SetOverrideIniFileName)
        .Default(false)
        .Boolean("OverrideSettings", &TVeltraneIni::OverrideSettings,
                 &TVeltraneIni::SetOverrideSettings)
        .Default(false)
        .Boolean("PagingEnabled", &TVeltraneIni::PagingEnabled, &TVeltraneIni::SetPagingEnabled)
        .Default(false)
        .Stored(by_hand)
        .Boolean("IsMobile", &TVeltraneIni::IsMobile, &TVeltraneIni::SetIsMobile)
        .Default(false)
        .Stored(by_hand)
        .String("VeltraneIni", &TVeltraneIni::VeltraneIni, &TVeltraneIni::SetVeltraneIni)
        .Stored(file_by_hand)
        .String("ConnectionString", &TVeltraneIni::ConnectionString,
                &TVeltraneIni::SetConnectionString)
        .Stored(by_hand)
        .String("ConnectionStringOverlay", &TVeltraneIni::ConnectionStringOverlay,
                &TVeltraneIni::SetConnectionStringOverlay)
        .String("HelpFilePath", &TVeltraneIni::HelpFilePath, &TVeltraneIni::SetHelpFilePath)
        .Stored(by_hand)
        .String("LogFilePath", &TVeltraneIni::LogFilePath, &TVeltraneIni::SetLogFilePath)
        .Stored(by_hand)
        .String("ServerKey", &TVeltraneIni::ServerKey, &TVeltraneIni::SetServerKey)
        .Stored(by_hand)
        .String("LibPath", &TVeltraneIni::LibPath)
        .Stored(false)
        .String("LibPathUnexpanded", &TVeltraneIni::LibPathUnexpanded,
                &TVeltraneIni::SetLibPathUnexpanded)
        .Stored(by_hand);
    Register<TVtCustomConfigInfo, TVeltraneIni>("TVtCustomConfigInfo")
        .Boolean("SkipLookups", &TVtCustomConfigInfo::SkipLookups,
                 &TVtCustomConfigInfo::SetSkipLookups)
        .Stored(false);
    Register<TVtConfigInfo, TVtCustomConfigInfo>("TVtConfigInfo");
    return true;
  }();
  (void)done;
}

}  // namespace bunkmere
