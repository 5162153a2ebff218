#include "usbip_link.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace veltrane::usbip {
namespace {

constexpr char kSysfs[] = "/sys/devices/platform/vhci_hcd.0/";
// What the port is plugged in as; the camera is a high-speed device.
constexpr int kHighSpeed = 3;

std::uint32_t Be32(std::span<const std::uint8_t> at) {
  return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
         static_cast<std::uint32_t>(at[2]) << 8 | static_cast<std::uint32_t>(at[3]);
}

void PutBe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift & 0xFFu));
  }
}

// command, seqnum, devid, direction, ep: the replies carry zeros after seqnum,
// as the kernel's own device side does.
std::vector<std::uint8_t> Basic(std::uint32_t command, std::uint32_t seqnum) {
  std::vector<std::uint8_t> out;
  out.reserve(kHeaderSize);
  PutBe32(out, command);
  PutBe32(out, seqnum);
  PutBe32(out, 0);
  PutBe32(out, 0);
  PutBe32(out, 0);
  return out;
}

bool WriteSysfs(const char* name, const std::string& text) {
  const std::string path = std::string(kSysfs) + name;
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return written;
}

bool ReadAll(int fd, std::span<std::uint8_t> into) {
  std::size_t done = 0;
  while (done < into.size()) {
    const ssize_t n = read(fd, into.data() + done, into.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<Command> ParseHeader(std::span<const std::uint8_t, kHeaderSize> header) {
  const std::span<const std::uint8_t> h = header;
  Command c;
  c.command = Be32(h.subspan(0, 4));
  c.seqnum = Be32(h.subspan(4, 4));
  c.direction = Be32(h.subspan(12, 4));
  c.ep = Be32(h.subspan(16, 4));
  if (c.command == kCmdUnlink) {
    c.unlink_seqnum = Be32(h.subspan(20, 4));
    return c;
  }
  if (c.command != kCmdSubmit) return std::nullopt;
  c.length = Be32(h.subspan(24, 4));
  const auto packets = static_cast<std::int32_t>(Be32(h.subspan(32, 4)));
  // transfer_buffer_length is signed on the wire; a negative one is huge here.
  if (c.length > kMaxTransfer || packets > 0) return std::nullopt;
  std::copy_n(h.begin() + 40, c.setup.size(), c.setup.begin());
  return c;
}

std::vector<std::uint8_t> RetSubmit(std::uint32_t seqnum, std::int32_t status,
                                    std::span<const std::uint8_t> in, std::uint32_t actual) {
  std::vector<std::uint8_t> out = Basic(kRetSubmit, seqnum);
  PutBe32(out, static_cast<std::uint32_t>(status));
  PutBe32(out, actual);
  PutBe32(out, 0);  // start_frame
  PutBe32(out, 0);  // number_of_packets
  PutBe32(out, 0);  // error_count
  out.resize(kHeaderSize, 0);
  out.insert(out.end(), in.begin(), in.end());
  return out;
}

std::vector<std::uint8_t> RetUnlink(std::uint32_t seqnum, std::int32_t status) {
  std::vector<std::uint8_t> out = Basic(kRetUnlink, seqnum);
  PutBe32(out, static_cast<std::uint32_t>(status));
  out.resize(kHeaderSize, 0);
  return out;
}

std::string Port::Attach(std::uint32_t devid) {
  Close();
  std::array<int, 2> fds{-1, -1};
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds.data()) != 0) {
    return std::string("socketpair: ") + std::strerror(errno);
  }
  const std::string line = std::to_string(number_) + " " + std::to_string(fds[1]) + " " +
                           std::to_string(devid) + " " + std::to_string(kHighSpeed);
  const bool attached = WriteSysfs("attach", line);
  const int error = errno;
  // The kernel holds its own reference to its end.
  close(fds[1]);
  if (!attached) {
    close(fds[0]);
    return std::string("attach '") + line + "': " + std::strerror(error);
  }
  fd_ = fds[0];
  return "";
}

void Port::Detach() {
  if (fd_ < 0) return;
  WriteSysfs("detach", std::to_string(number_));
  Close();
}

void Port::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

std::optional<Command> Port::Receive() {
  std::array<std::uint8_t, kHeaderSize> header{};
  if (fd_ < 0 || !ReadAll(fd_, header)) return std::nullopt;
  auto command = ParseHeader(header);
  if (!command) return std::nullopt;
  if (command->command == kCmdSubmit && command->direction != kDirIn && command->length > 0) {
    command->out.resize(command->length);
    if (!ReadAll(fd_, command->out)) return std::nullopt;
  }
  return command;
}

bool Port::Send(std::span<const std::uint8_t> frame) {
  std::size_t done = 0;
  while (done < frame.size()) {
    const ssize_t n = send(fd_, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void Port::Drain() {
  for (int tries = 0; fd_ >= 0 && tries < 1000; ++tries) {
    int unread = 0;
    if (ioctl(fd_, SIOCOUTQ, &unread) != 0 || unread == 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace veltrane::usbip
