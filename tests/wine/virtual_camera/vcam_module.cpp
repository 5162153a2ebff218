// Entry points of the virtual camera DLL: class object, registration as a
// video input device (through the filter mapper, as a camera driver's
// installer would), unregistration.
// windows.h must come first.
// clang-format off
#include <windows.h>
#include <dshow.h>
// clang-format on

#include <memory>
#include <new>
#include <string>

#include "vcam_class_factory.h"
#include "vcam_guids.h"

namespace {

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(ThisModule(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// The DLL's directory in the ANSI code page, with its trailing separator.
std::string ModuleDirectory() {
  const std::wstring path = ModulePath();
  const std::size_t slash = path.find_last_of(L"\\/");
  const std::wstring directory = slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
  const int needed =
      WideCharToMultiByte(CP_ACP, 0, directory.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 1) return {};
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_ACP, 0, directory.c_str(), -1, narrow.data(), needed, nullptr, nullptr);
  narrow.resize(static_cast<std::size_t>(needed - 1));
  return narrow;
}

LSTATUS SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::wstring ClsidKey() {
  return std::wstring(L"CLSID\\") + veltrane::vcam::kClsidText;
}

HRESULT RegisterServer() {
  HKEY server = nullptr;
  const std::wstring key = ClsidKey() + L"\\InprocServer32";
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &server,
                      nullptr) != ERROR_SUCCESS) {
    return SELFREG_E_CLASS;
  }
  LSTATUS status = SetString(server, nullptr, ModulePath());
  if (status == ERROR_SUCCESS) status = SetString(server, L"ThreadingModel", L"Both");
  RegCloseKey(server);
  HKEY clsid = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, ClsidKey().c_str(), 0, KEY_WRITE, &clsid) == ERROR_SUCCESS) {
    SetString(clsid, nullptr, veltrane::vcam::kFriendlyName);
    RegCloseKey(clsid);
  }
  return status == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

// Runs `action` with the filter mapper inside a COM apartment of its own.
template <class Action>
HRESULT WithFilterMapper(Action action) {
  const HRESULT initialised = CoInitialize(nullptr);
  IFilterMapper2* mapper = nullptr;
  HRESULT result = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IFilterMapper2, reinterpret_cast<void**>(&mapper));
  if (SUCCEEDED(result)) {
    result = action(*mapper);
    mapper->Release();
  }
  if (SUCCEEDED(initialised)) CoUninitialize();
  return result;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualGUID(clsid, veltrane::vcam::kClsidVirtualCamera)) return CLASS_E_CLASSNOTAVAILABLE;
  IClassFactory* factory = nullptr;
  try {
    factory = std::make_unique<veltrane::vcam::VcamClassFactory>(ModuleDirectory()).release();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  const HRESULT result = factory->QueryInterface(iid, object);
  factory->Release();
  return result;
}

// Filters stay alive through the process-wide property interface until
// exit, and the camera behind them writes its flash out when the DLL goes at
// process exit; unloading early would pull their code away.
STDAPI DllCanUnloadNow() {
  return S_FALSE;
}

STDAPI DllRegisterServer() {
  HRESULT result = RegisterServer();
  if (FAILED(result)) return result;
  return WithFilterMapper([](IFilterMapper2& mapper) {
    REGFILTER2 filter{};
    filter.dwVersion = 1;
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins = 0;
    filter.rgPins = nullptr;
    return mapper.RegisterFilter(veltrane::vcam::kClsidVirtualCamera, veltrane::vcam::kFriendlyName,
                                 nullptr, &CLSID_VideoInputDeviceCategory,
                                 veltrane::vcam::kInstanceName, &filter);
  });
}

STDAPI DllUnregisterServer() {
  const HRESULT result = WithFilterMapper([](IFilterMapper2& mapper) {
    return mapper.UnregisterFilter(&CLSID_VideoInputDeviceCategory, veltrane::vcam::kInstanceName,
                                   veltrane::vcam::kClsidVirtualCamera);
  });
  RegDeleteTreeW(HKEY_CLASSES_ROOT, ClsidKey().c_str());
  return result;
}
