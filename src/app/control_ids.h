// Control identifiers of the main dialog (resource 102).
#pragma once

namespace veltrane::ctl {

inline constexpr int kDeviceCombo = 1001;
inline constexpr int kSelectButton = 1002;
inline constexpr int kMessageLog = 1007;
inline constexpr int kVersionField = 1009;
inline constexpr int kStatusLine = 1010;
inline constexpr int kUpgradeButton = 1011;
inline constexpr int kDownloadCheck = 1012;
inline constexpr int kProgramCheck = 1013;
inline constexpr int kVerifyCheck = 1014;
inline constexpr int kDumpCheck = 1015;
inline constexpr int kWriteProtectCheck = 1016;
inline constexpr int kHintLine = 1017;
inline constexpr int kUnusedLine = 1018;
inline constexpr int kCloseButton = 1019;
inline constexpr int kProgressBar = 1030;

// Device-change event types.
inline constexpr unsigned kDeviceArrival = 0x8000;
inline constexpr unsigned kDeviceRemoveComplete = 0x8004;

}  // namespace veltrane::ctl
