// Identity of the virtual camera filter and where it is registered.
#pragma once

#include <windows.h>

namespace veltrane::vcam {

// {7B3E5A10-4C2D-4E8F-9A61-3F2A0A51C0DE}
inline constexpr GUID kClsidVirtualCamera = {
    0x7B3E5A10, 0x4C2D, 0x4E8F, {0x9A, 0x61, 0x3F, 0x2A, 0x0A, 0x51, 0xC0, 0xDE}};
inline constexpr wchar_t kClsidText[] = L"{7B3E5A10-4C2D-4E8F-9A61-3F2A0A51C0DE}";
inline constexpr wchar_t kFriendlyName[] = L"Veltrane Virtual Camera";
// The instance name carries the USB ids as a real camera's device path does.
inline constexpr wchar_t kInstanceName[] = L"usb#vid_3f2a&pid_0a51&mi_00#sim0";

}  // namespace veltrane::vcam
