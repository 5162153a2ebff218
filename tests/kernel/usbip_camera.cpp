// veltrane-usbip-camera: the camera model, plugged into the guest's
// vhci_hcd over USB/IP so that the kernel's own uvcvideo drives it.
//
//   veltrane-usbip-camera [--port N] [--flash-out FILE] [--record FILE]
//                         [--kill-at N PIDFILE] [KNOBS]
//   veltrane-usbip-camera --expected-flash FILE [KNOBS]
//
// KNOBS are the terminal's simulator knobs (layout=basic,set=fallback,
// fail=N,unplug=N,drop=N,version=,latency=...; cameras=N for
// --expected-flash only). A failed transfer is a STALL, an
// unplug detaches the port at that transfer, and the camera's restart
// command detaches it and attaches it again: a new enumeration. The flash
// lives here only; --flash-out writes it at SIGUSR1 and at SIGTERM/SIGINT,
// which also end the server. --record writes one trace line per
// extension-unit transfer up to the restart command. --kill-at sends SIGKILL
// to the process PIDFILE names once the camera has taken its N-th transfer:
// the program killed in the middle of a write, the camera still plugged in.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/terminal/options.h"
#include "support/engine_rig.h"
#include "usbip_link.h"
#include "uvc_device.h"

namespace veltrane::kernel_e2e {
namespace {

// Bus 1, device 2: any id serves, the kernel only echoes it.
constexpr std::uint32_t kDevid = 0x00010002;
// The host has the restart command's reply well before the camera leaves.
constexpr auto kAckTime = std::chrono::milliseconds(20);
// A camera takes a moment to boot its new firmware before it enumerates.
constexpr auto kRebootTime = std::chrono::milliseconds(300);
// The port frees shortly after a detach; a new attach waits that long.
constexpr int kAttachTries = 50;
constexpr auto kAttachRetry = std::chrono::milliseconds(100);

struct Args {
  int port = 0;
  std::string flash_out;
  std::string record;
  std::string expected_flash;
  std::uint32_t kill_at = 0;
  std::string kill_pid_file;
  SimOptions sim;
};

void KillNamedIn(const std::string& pid_file) {
  int pid = 0;
  std::ifstream(pid_file) >> pid;
  if (pid > 0 && kill(pid, SIGKILL) == 0) {
    std::fprintf(stderr, "usbip-camera: killed %d\n", pid);
  } else {
    std::fprintf(stderr, "usbip-camera: nothing to kill in %s\n", pid_file.c_str());
  }
}

int Usage(const std::string& error) {
  std::fprintf(stderr,
               "usbip-camera: %s\nusage: veltrane-usbip-camera [--port N] [--flash-out FILE] "
               "[--record FILE] [KNOBS]\n       veltrane-usbip-camera --expected-flash FILE "
               "[KNOBS]\n",
               error.c_str());
  return 2;
}

bool WriteFile(const std::string& path, const SimFlash& flash) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(flash.data()),
            static_cast<std::streamsize>(flash.size()));
  return static_cast<bool>(out);
}

bool AttachWithRetry(usbip::Port& port) {
  std::string error;
  for (int i = 0; i < kAttachTries; ++i) {
    error = port.Attach(kDevid);
    if (error.empty()) return true;
    std::this_thread::sleep_for(kAttachRetry);
  }
  std::fprintf(stderr, "usbip-camera: %s\n", error.c_str());
  return false;
}

class Server {
 public:
  Server(const Args& args, SimCamera& camera) : args_(args), camera_(camera), port_(args.port) {}

  int Run(int signals) {
    if (!AttachWithRetry(port_)) return 1;
    std::fprintf(stderr, "usbip-camera: attached to port %d\n", args_.port);
    for (;;) {
      std::vector<pollfd> fds{{signals, POLLIN, 0}};
      if (port_.Attached()) fds.push_back({port_.Fd(), POLLIN, 0});
      if (poll(fds.data(), fds.size(), -1) < 0) continue;
      if ((fds[0].revents & POLLIN) != 0) {
        signalfd_siginfo info{};
        if (read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
          SaveFlash();
          if (info.ssi_signo != SIGUSR1) break;
        }
      }
      if (fds.size() > 1 && fds[1].revents != 0 && !Serve()) return 1;
    }
    std::fprintf(stderr, "usbip-camera: served %u transfers\n", camera_.TransferCount());
    port_.Detach();
    return 0;
  }

 private:
  void SaveFlash() {
    if (!args_.flash_out.empty() && !WriteFile(args_.flash_out, camera_.Flash())) {
      std::fprintf(stderr, "usbip-camera: can not write %s\n", args_.flash_out.c_str());
    }
  }

  // One command off the wire. False when the camera can't go on.
  bool Serve() {
    const auto command = port_.Receive();
    if (!command) {
      // Detached from outside, or a frame we can't read: either way gone.
      port_.Detach();
      return true;
    }
    if (command->command == usbip::kCmdUnlink) {
      // Every submit is answered before the next command is read, so what
      // the host withdraws was already given back.
      return port_.Send(usbip::RetUnlink(command->seqnum, 0)) || Gone();
    }
    const bool in = command->direction == usbip::kDirIn;
    Answer answer{Answer::Kind::kStall, {}};
    // The bulk endpoint never streams.
    if (command->ep == 0) answer = device_.Control(ParseSetup(command->setup), command->out);
    if (answer.kind == Answer::Kind::kUnplugged) {
      std::fprintf(stderr, "usbip-camera: unplugged at transfer %u\n", camera_.TransferCount());
      port_.Detach();
      return true;
    }
    const bool stall = answer.kind == Answer::Kind::kStall;
    const auto actual = static_cast<std::uint32_t>(in ? answer.data.size() : command->out.size());
    if (!port_.Send(usbip::RetSubmit(command->seqnum, stall ? usbip::kStatusStall : 0,
                                     in ? answer.data : std::vector<std::uint8_t>(),
                                     stall ? 0 : actual))) {
      return Gone();
    }
    if (camera_.Restarts() != restarts_) {
      restarts_ = camera_.Restarts();
      std::fprintf(stderr, "usbip-camera: restart after transfer %u\n", camera_.TransferCount());
      // A camera acknowledges the command before it drops off the bus.
      port_.Drain();
      std::this_thread::sleep_for(kAckTime);
      port_.Detach();
      std::this_thread::sleep_for(kRebootTime);
      return AttachWithRetry(port_);
    }
    return true;
  }

  bool Gone() {
    port_.Detach();
    return true;
  }

  const Args& args_;
  SimCamera& camera_;
  UvcDevice device_{camera_};
  usbip::Port port_;
  unsigned restarts_ = 0;
};

int Main(int argc, char** argv) {
  Args args;
  const std::vector<std::string> words(argv + 1, argv + argc);
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    const bool has_value = i + 1 < words.size();
    if (word == "--port" && has_value) {
      const std::string& port = words[++i];
      if (std::from_chars(port.data(), port.data() + port.size(), args.port).ec != std::errc() ||
          args.port < 0) {
        return Usage("bad port '" + port + "'");
      }
    } else if (word == "--flash-out" && has_value) {
      args.flash_out = words[++i];
    } else if (word == "--record" && has_value) {
      args.record = words[++i];
    } else if (word == "--kill-at" && i + 2 < words.size()) {
      const std::string& at = words[++i];
      if (std::from_chars(at.data(), at.data() + at.size(), args.kill_at).ec != std::errc()) {
        return Usage("bad transfer '" + at + "'");
      }
      args.kill_pid_file = words[++i];
    } else if (word == "--expected-flash" && has_value) {
      args.expected_flash = words[++i];
    } else if (word.rfind("--", 0) == 0) {
      return Usage("unknown option '" + word + "'");
    } else if (const std::string error = ParseKnobs(word, args.sim); !error.empty()) {
      return Usage(error);
    }
  }

  if (!args.expected_flash.empty()) {
    // With cameras=N, FILE-1..FILE-N, each with its own data, as the
    // simulator's flash=FILE names them.
    for (unsigned k = 0; k < args.sim.cameras; ++k) {
      SimKnobs knobs = args.sim.knobs;
      knobs.own_data_seed = static_cast<std::uint8_t>(k);
      const std::string path =
          args.expected_flash + (args.sim.cameras > 1 ? "-" + std::to_string(k + 1) : "");
      if (!WriteFile(path,
                     testing::ExpectedFlash(knobs.extended, SimCamera::DefaultFlash(knobs)))) {
        return 1;
      }
    }
    return 0;
  }

  // Signals arrive through a descriptor, beside the socket.
  sigset_t mask;
  sigemptyset(&mask);
  for (const int s : {SIGTERM, SIGINT, SIGUSR1}) sigaddset(&mask, s);
  sigprocmask(SIG_BLOCK, &mask, nullptr);
  const int signals = signalfd(-1, &mask, SFD_CLOEXEC);
  if (signals < 0) return Usage("signalfd failed");

  SimCamera camera(args.sim.knobs);
  std::ofstream record;
  if (!args.record.empty()) {
    record.open(args.record, std::ios::trunc);
    if (!record) return Usage("can not create " + args.record);
  }
  if (!args.record.empty() || args.kill_at != 0) {
    camera.on_transfer = [&](const TransferRecord& transfer) {
      // Up to the restart command: what a replay can repeat without
      // restarting the camera.
      if (record.is_open() && camera.Restarts() == 0) {
        record << FormatTraceLine(transfer) << '\n';
      }
      if (transfer.number == args.kill_at) KillNamedIn(args.kill_pid_file);
    };
  }
  Server server(args, camera);
  const int status = server.Run(signals);
  camera.on_transfer = nullptr;
  return status;
}

}  // namespace
}  // namespace veltrane::kernel_e2e

int main(int argc, char** argv) {
  return veltrane::kernel_e2e::Main(argc, argv);
}
