// USB/IP as vhci_hcd speaks it, from the device's side: one port of the
// guest's virtual host controller, attached to an AF_UNIX socket pair whose
// other end the kernel keeps, and the 48-byte big-endian frames that cross it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace veltrane::usbip {

inline constexpr std::uint32_t kCmdSubmit = 1;
inline constexpr std::uint32_t kCmdUnlink = 2;
inline constexpr std::uint32_t kRetSubmit = 3;
inline constexpr std::uint32_t kRetUnlink = 4;
inline constexpr std::uint32_t kDirIn = 1;
inline constexpr std::size_t kHeaderSize = 48;
// More than any transfer the camera is sent; a larger one is a broken frame.
inline constexpr std::uint32_t kMaxTransfer = 64 * 1024;
// What a STALL looks like in RET_SUBMIT.
inline constexpr std::int32_t kStatusStall = -32;

struct Command {
  std::uint32_t command = 0;
  std::uint32_t seqnum = 0;
  std::uint32_t direction = 0;
  std::uint32_t ep = 0;
  // CMD_SUBMIT: transfer_buffer_length and the setup packet as sent.
  std::uint32_t length = 0;
  std::array<std::uint8_t, 8> setup{};
  // CMD_UNLINK: the submit it withdraws.
  std::uint32_t unlink_seqnum = 0;
  // An OUT submit's data, read after the header.
  std::vector<std::uint8_t> out;
};

// A header, or nullopt for one that is not a command or asks for more than
// kMaxTransfer or for isochronous packets (the camera has no such endpoint).
std::optional<Command> ParseHeader(std::span<const std::uint8_t, kHeaderSize> header);

// RET_SUBMIT: `in` is an IN transfer's data (empty for OUT); `actual` is
// what the host reads as done (the OUT length for OUT).
std::vector<std::uint8_t> RetSubmit(std::uint32_t seqnum, std::int32_t status,
                                    std::span<const std::uint8_t> in, std::uint32_t actual);
std::vector<std::uint8_t> RetUnlink(std::uint32_t seqnum, std::int32_t status);

// One port of vhci_hcd.0. Each Attach is a new plug-in: a new socket pair,
// a new enumeration.
class Port {
 public:
  explicit Port(int number) : number_(number) {}
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;
  ~Port() { Close(); }

  // "" or what went wrong.
  std::string Attach(std::uint32_t devid);
  // The kernel drops its end; anything in flight fails on the host's side.
  void Detach();
  bool Attached() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  // The next command with its data; nullopt at EOF (detached) or on a
  // broken frame.
  std::optional<Command> Receive();
  bool Send(std::span<const std::uint8_t> frame);
  // Waits (up to about a second) until the kernel has read all that was
  // sent, so that a detach right after does not cut off the last reply.
  void Drain();

 private:
  void Close();

  int number_;
  int fd_ = -1;
};

}  // namespace veltrane::usbip
