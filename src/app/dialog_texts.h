// Texts that more than one of the dialog's handlers show.
#pragma once

namespace veltrane::text {

inline constexpr char kNotConnected[] =
    "Your device is not connected, please connect the device and restart the application";
inline constexpr char kNoDevice[] = "No device found!";
inline constexpr char kReady[] = "The program will upgrade the firmware of your Tessaro.";
inline constexpr char kPressUpgrade[] = "Press Upgrade to begin.";
inline constexpr char kCanNotFindDevice[] = "Can not find device";

}  // namespace veltrane::text
