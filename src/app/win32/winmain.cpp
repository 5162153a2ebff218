// Entry point of VeltraneUpgrade.exe.
#include "app/win32/command_line.h"
#include "app/win32/upgrade_app.h"
#include "app/win32/windows_api.h"

namespace {

// Before anything loads a DLL (DirectShow loads several): DLLs are then
// looked for in System32 only, so one planted beside the program is never
// loaded. Looked up by name: Windows 7 has it only with KB2533623.
void SearchDllsInSystem32Only() {
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  const FARPROC found =
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
  // Through void (*)(): GetProcAddress's type fits no real signature.
  const auto set = reinterpret_cast<SetDirectories>(reinterpret_cast<void (*)()>(found));
  if (set != nullptr) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*command_line*/,
                   int /*show*/) {
  SearchDllsInSystem32Only();
  veltrane::win32::UpgradeApp app(instance);
  return app.Run(veltrane::win32::ParseCommandLine(veltrane::win32::ProgramArguments()));
}
