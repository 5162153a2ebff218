#include "camera/sim/sim_camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "camera/xu_channel.h"
#include "support/recording_view.h"
#include "update/firmware_image.h"

namespace veltrane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Events = std::vector<unsigned>;

const Guid kConfigured = SimKnobs{}.configured_set;

KspNode Node(bool is_set, std::uint32_t selector, const Guid& set = kConfigured,
             std::uint32_t offset = kConfiguredSelectorOffset) {
  KspNode node;
  node.set = set;
  node.id = selector == 0 ? 0 : selector + offset;
  node.flags = is_set ? kXuFlagsSet : kXuFlagsGet;
  node.node_id = kXuNodeId;
  return node;
}
HResult Send(SimCamera& camera, bool is_set, std::uint32_t selector, Bytes& data) {
  return camera.KsProperty(Node(is_set, selector), data.data(),
                           static_cast<std::uint32_t>(data.size()));
}
HResult Set(SimCamera& camera, std::uint32_t selector, Bytes data) {
  return Send(camera, true, selector, data);
}
// [command, a, b, lo, hi] followed by `payload`, zero-padded to `length`.
Bytes Command(std::size_t length, Bytes head, Bytes payload = {}) {
  head.insert(head.end(), payload.begin(), payload.end());
  head.resize(length, 0);
  return head;
}
Bytes Erase(std::uint16_t a) {
  return Command(16, {0x02, std::uint8_t(a), std::uint8_t(a >> 8)});
}
Bytes Program(std::uint16_t a, Bytes data) {
  const auto n = static_cast<std::uint8_t>(data.size());
  return Command(64, {0x01, n, std::uint8_t(a), std::uint8_t(a >> 8)}, data);
}
SimKnobs Basic() {
  SimKnobs knobs;
  knobs.extended = false;
  return knobs;
}

// A camera reached through the channel, as the update reaches it.
class SimCameraTest : public ::testing::Test {
 protected:
  void Start(const SimKnobs& knobs) {
    camera = std::make_shared<SimCamera>(knobs);
    channel.ConfigureXu(kDefaultXuGuidText);
    channel.SetPropertyInterface(camera);
  }
  testing::RecordingReporter reporter;
  XuChannel channel{reporter};
  std::shared_ptr<SimCamera> camera;
};

TEST_F(SimCameraTest, ProbeFindsTheAnsweredSetAndLayout) {
  struct Case {
    SimPropertySet answers;
    bool extended;
    bool found;
    Guid active;
  };
  const Case cases[] = {
      {SimPropertySet::kConfigured, true, true, kConfigured},
      {SimPropertySet::kConfigured, false, true, kConfigured},
      {SimPropertySet::kFallback, true, true, kFallbackXuSet},
      {SimPropertySet::kNone, true, false, kFallbackXuSet},
  };
  for (const Case& c : cases) {
    SimKnobs knobs;
    knobs.answers = c.answers;
    knobs.extended = c.extended;
    knobs.version = 0x0A0B0C0D;
    Start(knobs);
    ProbeReply reply{};
    ASSERT_EQ(channel.ProbeXu(true, reply), c.found);
    EXPECT_EQ(channel.active_set, c.active);
    ASSERT_FALSE(camera->Log().empty());
    EXPECT_EQ(camera->Log().back().id, 0u);
    if (!c.found) continue;
    EXPECT_EQ(reply[16], c.extended ? 0x10 : 0x0F);
    channel.extended_xu = 1;
    std::uint32_t version = 0;
    ASSERT_EQ(channel.ReadVersion(version), 0);  // sent most significant byte first
    EXPECT_EQ(version, 0x0A0B0C0Du);
  }
  // Another set, or the right set under the wrong offset, is refused.
  SimCamera other;
  Bytes reply(4);
  EXPECT_EQ(other.KsProperty(Node(false, 12, kFallbackXuSet, 0), reply.data(), 4), kESetNotFound);
  EXPECT_EQ(other.KsProperty(Node(false, 12, kConfigured, 0), reply.data(), 4), kEInvalidParameter);
}

TEST(SimCameraModel, RefusesMalformedRequestsWithoutTouchingMemory) {
  SimCamera camera;
  KspNode no_topology = Node(false, 0), wrong_node = Node(false, 0);
  no_topology.flags = kKsPropertyTypeGet;
  wrong_node.node_id = 3;
  const std::pair<KspNode, std::uint32_t> cases[] = {
      {no_topology, 1024},
      {wrong_node, 1024},
      {Node(false, 0), 16},
      {Node(false, xu::kVersion), 3},
      {Node(false, xu::kBlockReply), 63},
      {Node(true, xu::kProgramPiece), 63},
      {Node(false, 40), 4},
      {Node(false, xu::kEraseUnit), 16},
  };
  for (const auto& [node, length] : cases) {
    Bytes buffer(length + 8, 0xEE);
    EXPECT_EQ(camera.KsProperty(node, buffer.data(), length), kEInvalidParameter) << node.id;
    EXPECT_EQ(buffer, Bytes(length + 8, 0xEE));
  }
  EXPECT_EQ(camera.KsProperty(Node(false, 0), nullptr, 1024), kEInvalidParameter);
  Bytes probe(40, 0xEE);
  ASSERT_EQ(camera.KsProperty(Node(false, 0), probe.data(), 17), kSOk);
  EXPECT_EQ(Bytes(probe.begin() + 16, probe.begin() + 18), (Bytes{0x10, 0xEE}));
}

TEST_F(SimCameraTest, RegistersAndRestartInBothLayouts) {
  for (const bool extended : {true, false}) {
    SimKnobs knobs;
    knobs.extended = extended;
    knobs.culling = 5;
    knobs.chip_id = 12;
    Start(knobs);
    channel.extended_xu = extended ? 1 : 0;
    // address, written, read back: the variant reads back whatever was written.
    const std::array<std::uint16_t, 3> cases[] = {
        {0x34E3, 3, 5}, {0x440B, 0, 12}, {0xE00C, 0x42, 0x42}, {0xE00D, 7, 7}, {0xE00F, 0, 0}};
    for (const auto& [address, written, read_back] : cases) {
      ASSERT_EQ(channel.WriteByte(address, std::uint8_t(written)), 0);
      std::uint16_t value = 0xEEEE;
      ASSERT_EQ(channel.ReadByte(address, value), 0);
      EXPECT_EQ(value, read_back) << std::hex << address << " extended " << extended;
    }
    EXPECT_EQ(camera->Restarts(), 0u);

    camera->Flash()[0xB000] = 0x44;
    EXPECT_EQ(camera->RunningVersion(), knobs.version);  // only a boot reads the flash
    ASSERT_EQ(channel.WriteByte(0xE00F, 1), 0);
    EXPECT_EQ(camera->Restarts(), 1u);
    EXPECT_EQ(camera->RunningVersion(), (knobs.version & ~0xFFu) | 0x44u);
    EXPECT_EQ(camera->TakeDeviceEvents(), (Events{0x8004, 0x8004, 0x8000, 0x8000}));
    EXPECT_TRUE(camera->Plugged());
    std::uint16_t value = 0;
    EXPECT_EQ(channel.ReadByte(0x440B, value), 0);  // still answering
    EXPECT_TRUE(reporter.error_boxes.empty() && reporter.app_boxes.empty());
  }
}

TEST_F(SimCameraTest, ExtendedFlashIsNor) {
  Start({});
  camera->Flash().fill(0x00);
  ASSERT_EQ(Set(*camera, xu::kEraseUnit, Erase(0x1234)), kSOk);
  for (std::uint32_t a = 0; a < kSimFlashSize; ++a) {
    ASSERT_EQ(camera->Flash()[a], (a >= 0x1000 && a < 0x2000) ? 0xFF : 0x00) << std::hex << a;
  }
  camera->Flash()[0x1000] = 0xF0;  // programming over old data only clears bits
  ASSERT_EQ(Set(*camera, xu::kProgramPiece, Program(0x1000, {0x3C, 0x3C})), kSOk);
  EXPECT_EQ(Bytes(camera->Flash().begin() + 0x1000, camera->Flash().begin() + 0x1003),
            (Bytes{0x30, 0x3C, 0xFF}));

  const SimFlash before = camera->Flash();
  Bytes too_long = Program(0x1000, Bytes(32, 0));
  too_long[1] = 33;
  EXPECT_EQ(Set(*camera, xu::kProgramPiece, too_long), kEInvalidParameter);
  EXPECT_EQ(Set(*camera, xu::kEraseUnit, Command(16, {0x01, 0, 0x30})), kEInvalidParameter);
  EXPECT_EQ(camera->Flash(), before);

  camera->Flash().fill(0xFF);  // addresses wrap at 16 bits
  Bytes data(32);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::uint8_t(i);
  ASSERT_EQ(Set(*camera, xu::kProgramPiece, Program(0xFFF0, data)), kSOk);
  std::array<std::uint8_t, 60> block{};
  ASSERT_EQ(channel.ReadBlock(0xFFF0, 60, block), 0);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), block.begin()));
  EXPECT_EQ(block[32], 0xFF);
}

// An unplug in the middle of an erase or a program leaves some bits done:
// a unit between its old data and erased, a piece between erased and its
// data; never an operation undone, or a bit moved the wrong way.
TEST(SimCameraModel, AnUnplugTearsTheWriteItCuts) {
  for (const bool erase : {true, false}) {
    SimKnobs knobs;
    knobs.unplug_at = 1;
    SimCamera camera(knobs);
    if (!erase) std::fill_n(camera.Flash().begin() + 0x2000, 32, 0xFF);
    const SimFlash before = camera.Flash();
    const Bytes data(32, 0x5A);
    EXPECT_EQ(Set(camera, erase ? xu::kEraseUnit : xu::kProgramPiece,
                  erase ? Erase(0x2000) : Program(0x2000, data)),
              kEDeviceNotConnected);
    const std::size_t size = erase ? 0x1000 : data.size();
    std::size_t done = 0;
    for (std::size_t a = 0x2000; a < 0x2000 + size; ++a) {
      const std::uint8_t from = before[a];
      const std::uint8_t to = erase ? 0xFF : data[0];
      // Bits move only from `from` towards `to`.
      ASSERT_EQ(camera.Flash()[a] & (from | to), camera.Flash()[a]) << std::hex << a;
      ASSERT_EQ(camera.Flash()[a] | (from & to), camera.Flash()[a]) << std::hex << a;
      done += camera.Flash()[a] == to;
    }
    EXPECT_GT(done, 0u) << erase;
    EXPECT_LT(done, size) << erase;
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 0x2000, camera.Flash().begin()));
  }
}

TEST(SimCameraModel, BasicLoadingModeStreamsFromZero) {
  SimCamera camera(Basic());
  EXPECT_EQ(Set(camera, xu::kLoadData, Bytes(16, 0)), kEInvalidParameter);  // not loading yet
  ASSERT_EQ(Set(camera, xu::kEnterLoadingMode, {1}), kSOk);
  EXPECT_TRUE(std::all_of(camera.Flash().begin(), camera.Flash().end(),
                          [](std::uint8_t b) { return b == 0xFF; }));
  for (std::uint8_t piece = 0; piece < 3; ++piece) {
    ASSERT_EQ(Set(camera, xu::kLoadData, Bytes(16, std::uint8_t(0x10 + piece))), kSOk);
  }
  ASSERT_EQ(Set(camera, xu::kSetFlashAddress, {0x0E, 0x00}), kSOk);
  Bytes read(4, 0xEE);
  ASSERT_EQ(Send(camera, false, xu::kReadFlashData, read), kSOk);
  EXPECT_EQ(read, (Bytes{0x10, 0x10, 0x11, 0x11}));
  EXPECT_EQ(camera.Flash()[48], 0xFF);

  for (std::uint32_t piece = 3; piece < kSimFlashSize / 16; ++piece) {
    ASSERT_EQ(Set(camera, xu::kLoadData, Bytes(16, 0)), kSOk);
  }
  EXPECT_EQ(Set(camera, xu::kLoadData, Bytes(16, 0)), kEInvalidParameter);  // flash full
}

TEST(SimCameraModel, EachLayoutAnswersItsOwnCommandsAndTheBlockRead) {
  const std::tuple<bool, std::uint32_t, Bytes> refused[] = {
      {true, xu::kEnterLoadingMode, {1}},
      {true, xu::kAddress, {0x00, 0x10}},
      {false, xu::kEraseUnit, Erase(0x1000)},
      {false, xu::kProgramPiece, Program(0x1000, {0})},
      {false, xu::kRegister, Command(9, {0x01, 0x0B, 0x44})},
  };
  for (const auto& [extended, selector, data] : refused) {
    SimKnobs knobs;
    knobs.extended = extended;
    SimCamera camera(knobs);
    EXPECT_EQ(Set(camera, selector, data), kEInvalidParameter) << selector;
    ASSERT_EQ(Set(camera, xu::kBlockAddress, {0x01, 0x00, 0xF0, 0, 0}), kSOk);
    Bytes reply(64);
    ASSERT_EQ(Send(camera, false, xu::kBlockReply, reply), kSOk);
    EXPECT_TRUE(std::equal(reply.begin() + 4, reply.end(), camera.Flash().begin() + 0xF000));
  }
}

TEST(SimCameraModel, FaultKnobsCountFromOne) {
  const HResult ok = kSOk, gone = kEDeviceGone, off = kEDeviceNotConnected;
  const std::tuple<std::uint32_t SimKnobs::*, std::uint32_t, std::vector<HResult>> cases[] = {
      {&SimKnobs::fail_at, 1, {gone, ok, ok, ok}},
      {&SimKnobs::fail_at, 3, {ok, ok, gone, ok}},
      {&SimKnobs::unplug_at, 1, {off, off, off, off}},
      {&SimKnobs::unplug_at, 2, {ok, off, off, off}},
      {&SimKnobs::drop_at, 2, {ok, ok, ok, ok}},
  };
  for (const auto& [knob, at, expected] : cases) {
    SimKnobs knobs;
    knobs.*knob = at;
    SimCamera camera(knobs);
    std::vector<HResult> results;
    for (int i = 0; i < 4; ++i) {
      Bytes reply(4);
      results.push_back(Send(camera, false, xu::kVersion, reply));
    }
    EXPECT_EQ(results, expected) << at;
    const bool unplugged = knob == &SimKnobs::unplug_at;
    EXPECT_EQ(camera.Plugged(), !unplugged);
    EXPECT_EQ(camera.TakeDeviceEvents(), unplugged ? Events{0x8004} : Events{});
  }
}

TEST(SimCameraModel, DroppedTransfersAreAcknowledgedButChangeNothing) {
  SimKnobs knobs;
  knobs.drop_at = 2;
  SimCamera camera(knobs);
  ASSERT_EQ(Set(camera, xu::kEraseUnit, Erase(0x3000)), kSOk);
  const SimFlash erased = camera.Flash();
  EXPECT_EQ(Set(camera, xu::kProgramPiece, Program(0x3000, Bytes(32, 0))), kSOk);
  EXPECT_EQ(camera.Flash(), erased);

  camera.Knobs().drop_at = 3;
  Bytes reply(4, 0xEE);
  EXPECT_EQ(Send(camera, false, xu::kVersion, reply), kSOk);
  EXPECT_EQ(reply, Bytes(4, 0xEE));
}

TEST(SimCameraModel, TransfersAreRecordedAndTraced) {
  SimKnobs knobs;
  knobs.fail_at = 2;
  SimCamera camera(knobs);
  std::vector<std::string> trace;
  camera.on_transfer = [&](const TransferRecord& r) { trace.push_back(FormatTraceLine(r)); };
  ASSERT_EQ(Set(camera, xu::kBlockAddress, {0x01, 0x10, 0xB0, 0, 0}), kSOk);
  Bytes reply(4);
  EXPECT_EQ(Send(camera, false, xu::kVersion, reply), kEDeviceGone);
  camera.Knobs().record_log = false;
  ASSERT_EQ(Send(camera, false, xu::kVersion, reply), kSOk);

  EXPECT_EQ(camera.Log().size(), 2u);
  EXPECT_EQ(trace, (std::vector<std::string>{
                       "1 SET set={F679EF5B-54DF-4BFC-B8CB-CA7E89A5233F} id=31 len=5 "
                       "rc=0x00000000 data=0110B00000",
                       "2 GET set={F679EF5B-54DF-4BFC-B8CB-CA7E89A5233F} id=27 len=4 "
                       "rc=0x8007001F data=",
                       "3 GET set={F679EF5B-54DF-4BFC-B8CB-CA7E89A5233F} id=27 len=4 "
                       "rc=0x00000000 data=090C0301",
                   }));
}

TEST(SimCameraModel, DefaultFlashDiffersFromTheImageOnlyWhereTheCameraIsItsOwn) {
  SimKnobs knobs;
  knobs.version = 0x01020304;
  knobs.release_low = 0x77;
  knobs.release_high = 0x66;
  const SimFlash flash = SimCamera::DefaultFlash(knobs);
  const auto image = EmbeddedFirmware();
  std::set<std::uint32_t> own{0xB000, 0xB001, 0xB002, 0xB003, 0xFFEC,
                              0xFFED, 0xBFFF, 0xCFFF, 0xFFFB};
  for (std::uint32_t a = 0xB010; a < 0xB100; ++a) {
    own.insert(a);
    EXPECT_NE(flash[a], image[a]) << std::hex << a;
  }
  for (std::uint32_t a = 0xFF00; a < 0xFF20; ++a) own.insert(a);
  for (std::uint32_t a = 0; a < kSimFlashSize; ++a) {
    if (!own.count(a)) {
      ASSERT_EQ(flash[a], image[a]) << std::hex << a;
    }
  }
  EXPECT_EQ(Bytes(flash.begin() + 0xB000, flash.begin() + 0xB004), (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(Bytes(flash.begin() + 0xFFEC, flash.begin() + 0xFFEE), (Bytes{0x77, 0x66}));
  EXPECT_EQ(Bytes(flash.begin() + 0xFF00, flash.begin() + 0xFF06), (Bytes{24, 3, 'T', 0, 'e', 0}));
  EXPECT_FALSE(std::equal(flash.begin() + 0xFF00, flash.begin() + 0xFF20, image.begin() + 0xFF00));
  for (const auto& block : image::kChecksumBlocks) {
    EXPECT_EQ(FirmwareImage(flash).BlockSum(block), 0);
  }
  EXPECT_EQ(SimCamera(knobs).RunningVersion(), 0x01020304u);
}

TEST(SimCameraModel, FlashFilesRoundTripAndWrongSizesAreRefused) {
  const auto dir = std::filesystem::temp_directory_path() / "veltrane_sim_camera_test";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "flash.bin").string();

  SimCamera source;
  source.Flash()[0xB000] = 0x99;
  ASSERT_TRUE(source.SaveFlash(path));
  ASSERT_TRUE(source.SaveFlash(path));  // over an existing file
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  SimCamera target;
  ASSERT_TRUE(target.LoadFlash(path));
  EXPECT_EQ(target.Flash(), source.Flash());
  EXPECT_EQ(target.RunningVersion() & 0xFFu, 0x99u);  // booted from the file

  for (const std::size_t size : {std::size_t{0}, kSimFlashSize - 1, kSimFlashSize + 1}) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(size, '\0');
    SimCamera camera;
    const SimFlash before = camera.Flash();
    EXPECT_FALSE(camera.LoadFlash(path)) << size;
    EXPECT_EQ(camera.Flash(), before);
  }
  EXPECT_FALSE(target.LoadFlash((dir / "missing.bin").string()));
  EXPECT_FALSE(target.SaveFlash((dir / "no" / "flash.bin").string()));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace veltrane
