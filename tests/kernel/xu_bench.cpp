// veltrane-xu-bench: what our backend costs over the kernel's own ioctl.
// Replays recorded extension-unit transfers (the server's --record of a
// full update) on a video node, through UvcKsControl and as a bare loop of
// UVCIOC_CTRL_QUERY, with the same count, sizes and data, and prints both.
//
//   veltrane-xu-bench --node /dev/videoN --record FILE [--rounds N]
#include <fcntl.h>
#include <linux/uvcvideo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "camera/uvc/uvc_capture_session.h"
#include "camera/uvc/uvc_ks_control.h"
#include "camera/uvc/video_devices.h"
#include "common/text_format.h"
#include "support/engine_rig.h"

namespace veltrane::kernel_e2e {
namespace {

struct Transfer {
  bool set = false;
  Guid property_set;
  std::uint8_t selector = 0;
  std::vector<std::uint8_t> data;
};

// "<n> <SET|GET> set=<{GUID}> id=<id> len=<len> rc=0x<8 hex> data=<HEX>";
// only the transfers that succeeded, as those are what an update is made of.
std::vector<Transfer> ReadRecord(const std::string& path) {
  std::vector<Transfer> transfers;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string number, kind, set, id, len, rc, data;
    if (!(words >> number >> kind >> set >> id >> len >> rc >> data)) continue;
    if (set.rfind("set=", 0) != 0 || id.rfind("id=", 0) != 0 || len.rfind("len=", 0) != 0 ||
        data.rfind("data=", 0) != 0 || rc != "rc=0x00000000") {
      continue;
    }
    const auto guid = ParseGuid(set.substr(4));
    if (!guid) continue;
    unsigned selector = 0;
    std::size_t length = 0;
    std::from_chars(id.data() + 3, id.data() + id.size(), selector);
    std::from_chars(len.data() + 4, len.data() + len.size(), length);
    if (selector == 0 || selector > 255 || length == 0 || length > 1024) continue;
    Transfer t;
    t.set = kind == "SET";
    t.property_set = *guid;
    t.selector = static_cast<std::uint8_t>(selector);
    t.data.resize(length);
    const std::string hex = data.substr(5);
    for (std::size_t i = 0; t.set && i < length && 2 * i + 1 < hex.size(); ++i) {
      t.data[i] =
          static_cast<std::uint8_t>(HexDigitValue(hex[2 * i]) << 4 | HexDigitValue(hex[2 * i + 1]));
    }
    transfers.push_back(std::move(t));
  }
  return transfers;
}

using Clock = std::chrono::steady_clock;
// Small enough that a change of the host's load hits both ways alike.
constexpr std::size_t kBlock = 16;

// Seconds for transfers [begin, end), or a negative number when one failed.
template <typename Query>
double Block(std::vector<Transfer>& transfers, std::size_t begin, std::size_t end, Query query) {
  const auto start = Clock::now();
  for (std::size_t i = begin; i < end; ++i) {
    if (!query(transfers[i])) return -1;
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int Main(int argc, char** argv) {
  std::string node, record_path;
  int rounds = 2;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--node") node = argv[i + 1];
    if (option == "--record") record_path = argv[i + 1];
    if (option == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
  }
  std::vector<Transfer> transfers = ReadRecord(record_path);
  if (node.empty() || transfers.empty()) {
    std::fprintf(stderr, "usage: veltrane-xu-bench --node /dev/videoN --record FILE\n");
    return 2;
  }

  // Our backend, bound the way the terminal binds it.
  testing::CountingReporter reporter;
  XuChannel channel(reporter);
  uvc::UdevVideoDevices devices;
  uvc::UvcCaptureSession session(channel, devices, node);
  std::vector<std::string> names, friendly;
  if (session.EnumerateDevices(names, friendly) != kSOk || session.BuildGraph(names[0]) != kSOk) {
    std::fprintf(stderr, "xu-bench: can not bind %s\n", node.c_str());
    return 1;
  }
  KsControl& backend = *channel.PropertyInterface();

  // The bare loop: the unit's id looked up once, then nothing but ioctls.
  std::uint8_t unit_id = 0;
  const auto listed = devices.List();
  for (const auto& device : listed.value_or(std::vector<uvc::VideoDevice>())) {
    if (device.node != node) continue;
    const auto units = uvc::ReadExtensionUnits(device);
    if (const auto* unit = uvc::FindUnit(units, transfers[0].property_set)) unit_id = unit->unit_id;
  }
  const int fd = open(node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 || unit_id == 0) {
    std::fprintf(stderr, "xu-bench: no extension unit on %s\n", node.c_str());
    return 1;
  }

  const auto through_backend = [&](Transfer& t) {
    KspNode property;
    property.set = t.property_set;
    property.id = t.selector;
    property.flags = t.set ? kXuFlagsSet : kXuFlagsGet;
    property.node_id = kXuNodeId;
    return backend.KsProperty(property, t.data.data(), static_cast<std::uint32_t>(t.data.size())) ==
           kSOk;
  };
  const auto bare = [&](Transfer& t) {
    uvc_xu_control_query query{};
    query.unit = unit_id;
    query.selector = t.selector;
    query.query = t.set ? uvc::kUvcSetCur : uvc::kUvcGetCur;
    query.size = static_cast<std::uint16_t>(t.data.size());
    query.data = t.data.data();
    return ioctl(fd, UVCIOC_CTRL_QUERY, &query) == 0;
  };

  // Block by block, each way in turn and each first every other block: the
  // same transfers twice over, so the camera ends as one update leaves it.
  // The first round also pays for the kernel's GET_LEN/GET_INFO of each
  // control and is not counted.
  double ours = 0;
  double theirs = 0;
  for (int round = 0; round <= rounds; ++round) {
    for (std::size_t begin = 0; begin < transfers.size(); begin += kBlock) {
      const std::size_t end = std::min(begin + kBlock, transfers.size());
      const bool backend_first = (begin / kBlock) % 2 == 0;
      const double first = backend_first ? Block(transfers, begin, end, through_backend)
                                         : Block(transfers, begin, end, bare);
      const double second = backend_first ? Block(transfers, begin, end, bare)
                                          : Block(transfers, begin, end, through_backend);
      if (first < 0 || second < 0) {
        std::fprintf(stderr, "xu-bench: a transfer failed in round %d\n", round);
        return 1;
      }
      if (round == 0) continue;
      ours += backend_first ? first : second;
      theirs += backend_first ? second : first;
    }
  }
  close(fd);
  const double count = static_cast<double>(transfers.size()) * rounds;
  std::printf("transfers=%zu rounds=%d backend_us=%.1f bare_us=%.1f ratio=%.3f\n", transfers.size(),
              rounds, ours / count * 1e6, theirs / count * 1e6, ours / theirs);
  return 0;
}

}  // namespace
}  // namespace veltrane::kernel_e2e

int main(int argc, char** argv) {
  return veltrane::kernel_e2e::Main(argc, argv);
}
