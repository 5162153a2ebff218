// Texts that more than one of the dialog's handlers show.
#pragma once

namespace veltrane::text {

inline constexpr char kNotConnected[] =
    "Your device is not connected, please connect the device and restart the application";
inline constexpr char kNoDevice[] = "No device found!";
inline constexpr char kReady[] = "The program will upgrade the firmware of your Tessaro.";
inline constexpr char kPressUpgrade[] = "Press Upgrade to begin.";
inline constexpr char kCanNotFindDevice[] = "Can not find device";
inline constexpr char kReplug[] =
    "Re-plug the device after close this program to active the new firmware.";
inline constexpr char kDownloadFailed[] = "Fail to Download code!";
inline constexpr char kSameVersionQuestion[] =
    "The firmware running in your webcam has the same version,\n Do you want to continue?";
inline constexpr char kNewerVersionQuestion[] =
    "The firmware running in your webcam is newer than this version,\n If you continue, the files "
    "in the webcam may be corrupted.\n\n Do you want to continue?";
inline constexpr char kUnknownVersionQuestion[] =
    "The firmware version running in your webcam could not be read,\n If you continue, the "
    "files in the webcam may be corrupted.\n\n Do you want to continue?";

}  // namespace veltrane::text
