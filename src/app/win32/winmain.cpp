// Entry point of VeltraneUpgrade.exe.
#include "app/win32/upgrade_app.h"
#include "app/win32/windows_api.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  veltrane::win32::UpgradeApp app(instance);
  app.InitInstance();
  return 0;
}
