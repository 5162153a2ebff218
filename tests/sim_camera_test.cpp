#include "camera/sim/sim_camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include "camera/xu_channel.h"
#include "update/firmware_image.h"

namespace veltrane {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Guid kConfigured = SimKnobs{}.configured_set;
constexpr std::uint32_t kOffset = kConfiguredSelectorOffset;

KspNode Node(bool is_set, std::uint32_t selector, const Guid& set = kConfigured,
             std::uint32_t offset = kOffset) {
  KspNode node;
  node.set = set;
  node.id = selector == 0 ? 0 : selector + offset;
  node.flags = is_set ? kXuFlagsSet : kXuFlagsGet;
  node.node_id = kXuNodeId;
  return node;
}

HResult Set(SimCamera& camera, std::uint32_t selector, Bytes data) {
  return camera.KsProperty(Node(true, selector), data.data(),
                           static_cast<std::uint32_t>(data.size()));
}
HResult Get(SimCamera& camera, std::uint32_t selector, Bytes& data) {
  return camera.KsProperty(Node(false, selector), data.data(),
                           static_cast<std::uint32_t>(data.size()));
}

Bytes Program(std::uint16_t address, Bytes payload) {
  Bytes command(64, 0);
  command[0] = 0x01;
  command[1] = static_cast<std::uint8_t>(payload.size());
  command[2] = static_cast<std::uint8_t>(address);
  command[3] = static_cast<std::uint8_t>(address >> 8);
  std::copy(payload.begin(), payload.end(), command.begin() + 4);
  return command;
}
Bytes Erase(std::uint16_t address) {
  Bytes command(16, 0);
  command[0] = 0x02;
  command[1] = static_cast<std::uint8_t>(address);
  command[2] = static_cast<std::uint8_t>(address >> 8);
  return command;
}

class RecordingReporter : public ErrorReporter {
 public:
  void ShowErrorBox(const std::string& text) override { error_boxes.push_back(text); }
  void ShowAppBox(const std::string& text) override { app_boxes.push_back(text); }
  std::vector<std::string> error_boxes;
  std::vector<std::string> app_boxes;
};

// A camera reached through the channel, as the update reaches it.
class SimCameraTest : public ::testing::Test {
 protected:
  void Start(SimKnobs knobs = {}) {
    camera = std::make_shared<SimCamera>(knobs);
    channel.ConfigureXu(kDefaultXuGuidText);
    channel.SetPropertyInterface(camera);
    channel.extended_xu = knobs.extended ? 1 : 0;
  }

  RecordingReporter reporter;
  XuChannel channel{reporter};
  std::shared_ptr<SimCamera> camera;
};

TEST_F(SimCameraTest, ProbeByte16TellsTheLayout) {
  for (const bool extended : {true, false}) {
    SimKnobs knobs;
    knobs.extended = extended;
    Start(knobs);
    ProbeReply reply{};
    ASSERT_TRUE(channel.ProbeXu(true, reply));
    EXPECT_EQ(reply[16], extended ? 0x10 : 0x0F);
    EXPECT_EQ(XuChannel::ReplyIsExtended(reply), extended);
    EXPECT_EQ(camera->Log().back().id, 0u);
  }
}

TEST(SimCameraModel, AnswersExactlyOneSet) {
  struct Case {
    SimPropertySet answers;
    Guid set;
    std::uint32_t offset;
    HResult expected;
  };
  const Guid other{0x12345678, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
  const Case cases[] = {
      {SimPropertySet::kConfigured, kConfigured, kOffset, kSOk},
      {SimPropertySet::kConfigured, kFallbackXuSet, 0, kESetNotFound},
      {SimPropertySet::kConfigured, other, kOffset, kESetNotFound},
      {SimPropertySet::kFallback, kFallbackXuSet, 0, kSOk},
      {SimPropertySet::kFallback, kConfigured, kOffset, kESetNotFound},
      {SimPropertySet::kNone, kConfigured, kOffset, kESetNotFound},
      {SimPropertySet::kNone, kFallbackXuSet, 0, kESetNotFound},
  };
  for (const Case& c : cases) {
    SimKnobs knobs;
    knobs.answers = c.answers;
    SimCamera camera(knobs);
    Bytes probe(1024);
    EXPECT_EQ(camera.KsProperty(Node(false, 0, c.set, c.offset), probe.data(), 1024), c.expected);
    Bytes version(4);
    EXPECT_EQ(camera.KsProperty(Node(false, xu::kVersion, c.set, c.offset), version.data(), 4),
              c.expected);
  }
}

TEST_F(SimCameraTest, FallbackCameraIsFoundByTheProbe) {
  SimKnobs knobs;
  knobs.answers = SimPropertySet::kFallback;
  Start(knobs);
  ProbeReply reply{};
  ASSERT_TRUE(channel.ProbeXu(true, reply));
  EXPECT_EQ(channel.active_set, kFallbackXuSet);
  std::uint32_t version = 0;
  ASSERT_EQ(channel.ReadVersion(version), 0);
  EXPECT_EQ(version, knobs.version);
  EXPECT_EQ(camera->Log().back().id, xu::kVersion);
}

TEST(SimCameraModel, RefusesMalformedRequestsWithoutTouchingMemory) {
  SimCamera camera;
  struct Case {
    const char* what;
    KspNode node;
    std::uint32_t length;
  };
  KspNode bad_flags = Node(false, 0);
  bad_flags.flags = kKsPropertyTypeGet;
  KspNode bad_node = Node(false, 0);
  bad_node.node_id = 3;
  KspNode below_offset = Node(false, 0);
  below_offset.id = 15;  // selector 0 under the offset is not the probe
  const Case cases[] = {
      {"flags without topology", bad_flags, 1024},
      {"wrong node", bad_node, 1024},
      {"id below the offset", below_offset, 1024},
      {"short probe", Node(false, 0), 16},
      {"short version", Node(false, xu::kVersion), 3},
      {"short block reply", Node(false, xu::kBlockReply), 63},
      {"short register", Node(true, xu::kRegister), 8},
      {"short program", Node(true, xu::kProgramPiece), 63},
      {"unknown selector", Node(false, 40), 4},
      {"GET of a SET-only control", Node(false, xu::kEraseUnit), 16},
  };
  for (const Case& c : cases) {
    Bytes buffer(c.length + 8, 0xEE);
    if (c.node.flags == kXuFlagsSet && c.length >= 1) buffer[0] = 0x01;
    const SimFlash before = camera.Flash();
    EXPECT_EQ(camera.KsProperty(c.node, buffer.data(), c.length), kEInvalidParameter) << c.what;
    EXPECT_TRUE(std::all_of(buffer.begin() + 1, buffer.end(), [](auto b) { return b == 0xEE; }))
        << c.what;
    EXPECT_EQ(camera.Flash(), before) << c.what;
  }
  EXPECT_EQ(camera.KsProperty(Node(false, 0), nullptr, 1024), kEInvalidParameter);
  EXPECT_EQ(camera.KsProperty(Node(true, xu::kRegister), nullptr, 9), kEInvalidParameter);
}

TEST(SimCameraModel, ProbeWritesNoMoreThanItsLength) {
  SimCamera camera;
  Bytes buffer(40, 0xEE);
  ASSERT_EQ(camera.KsProperty(Node(false, 0), buffer.data(), 17), kSOk);
  EXPECT_EQ(buffer[16], 0x10);
  EXPECT_TRUE(std::all_of(buffer.begin() + 17, buffer.end(), [](auto b) { return b == 0xEE; }));
}

TEST_F(SimCameraTest, RegistersInBothLayouts) {
  struct Case {
    std::uint16_t address;
    std::uint8_t written;
    std::uint8_t read_back;
  };
  for (const bool extended : {true, false}) {
    SimKnobs knobs;
    knobs.extended = extended;
    knobs.culling = 5;
    knobs.chip_id = 12;
    Start(knobs);
    const Case cases[] = {
        {0x34E3, 3, 5},  // the variant reads back whatever was written
        {0x440B, 0, 12}, {0xE00C, 0x42, 0x42}, {0xE00D, 0x07, 0x07}, {0x1234, 0x99, 0x99},
    };
    for (const Case& c : cases) {
      ASSERT_EQ(channel.WriteByte(c.address, c.written), 0);
      std::uint16_t value = 0xEEEE;
      ASSERT_EQ(channel.ReadByte(c.address, value), 0);
      EXPECT_EQ(value, c.read_back) << std::hex << c.address << " extended " << extended;
      EXPECT_EQ(camera->Register(c.address), c.read_back);
    }
    EXPECT_EQ(camera->Restarts(), 0u);
    EXPECT_TRUE(reporter.error_boxes.empty());
  }
}

TEST_F(SimCameraTest, RestartBootsFromFlashAndQueuesEvents) {
  for (const bool extended : {true, false}) {
    SimKnobs knobs;
    knobs.extended = extended;
    Start(knobs);
    EXPECT_EQ(camera->RunningVersion(), knobs.version);
    camera->Flash()[0xB000] = 0x44;
    camera->Flash()[0xB003] = 0x0B;
    EXPECT_EQ(camera->RunningVersion(), knobs.version);  // only a boot reads the flash

    ASSERT_EQ(channel.WriteByte(0xE00F, 0), 0);
    EXPECT_EQ(camera->Restarts(), 0u);
    ASSERT_EQ(channel.WriteByte(0xE00F, 1), 0);
    EXPECT_EQ(camera->Restarts(), 1u);
    EXPECT_EQ(camera->RunningVersion(), (knobs.version & 0x00FFFF00u) | 0x0B000044u);
    EXPECT_TRUE(camera->Plugged());
    EXPECT_EQ(camera->TakeDeviceEvents(), (std::vector<unsigned>{0x8004, 0x8004, 0x8000, 0x8000}));
    EXPECT_FALSE(camera->HasDeviceEvents());
    std::uint16_t value = 0;
    EXPECT_EQ(channel.ReadByte(0x440B, value), 0);  // still answering
  }
}

TEST_F(SimCameraTest, RestartEventCountsFollowTheKnobs) {
  SimKnobs knobs;
  knobs.restart_removals = 1;
  knobs.restart_arrivals = 3;
  Start(knobs);
  ASSERT_EQ(channel.WriteByte(0xE00F, 1), 0);
  EXPECT_EQ(camera->TakeDeviceEvents(), (std::vector<unsigned>{0x8004, 0x8000, 0x8000, 0x8000}));
}

TEST(SimCameraModel, VersionIsSentMostSignificantByteFirst) {
  for (const bool extended : {true, false}) {
    SimKnobs knobs;
    knobs.extended = extended;
    knobs.version = 0x0A0B0C0D;
    SimCamera camera(knobs);
    Bytes reply(4);
    ASSERT_EQ(Get(camera, xu::kVersion, reply), kSOk);
    EXPECT_EQ(reply, (Bytes{0x0A, 0x0B, 0x0C, 0x0D}));
  }
}

TEST(SimCameraModel, EraseSetsTheWholeUnitAndNothingElse) {
  SimCamera camera;
  camera.Flash().fill(0x00);
  ASSERT_EQ(Set(camera, xu::kEraseUnit, Erase(0x1234)), kSOk);
  for (std::uint32_t a = 0; a < kSimFlashSize; ++a) {
    ASSERT_EQ(camera.Flash()[a], (a >= 0x1000 && a < 0x2000) ? 0xFF : 0x00) << std::hex << a;
  }
  EXPECT_EQ(Set(camera, xu::kEraseUnit, {0x01, 0x00, 0x30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
            kEInvalidParameter);
  EXPECT_EQ(camera.Flash()[0x3000], 0x00);
}

TEST(SimCameraModel, ProgrammingWithoutEraseAndsBits) {
  SimCamera camera;
  camera.Flash()[0x2000] = 0xF0;
  camera.Flash()[0x2001] = 0xFF;
  camera.Flash()[0x2002] = 0x5A;
  ASSERT_EQ(Set(camera, xu::kProgramPiece, Program(0x2000, {0x3C, 0x3C})), kSOk);
  EXPECT_EQ(camera.Flash()[0x2000], 0x30);
  EXPECT_EQ(camera.Flash()[0x2001], 0x3C);
  EXPECT_EQ(camera.Flash()[0x2002], 0x5A);  // n bytes only

  const SimFlash before = camera.Flash();
  Bytes too_long = Program(0x2000, Bytes(32, 0));
  too_long[1] = 33;
  EXPECT_EQ(Set(camera, xu::kProgramPiece, too_long), kEInvalidParameter);
  EXPECT_EQ(camera.Flash(), before);
}

TEST_F(SimCameraTest, ExtendedAddressesWrapAtSixteenBits) {
  Start();
  camera->Flash().fill(0xFF);
  Bytes data(32);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  ASSERT_EQ(Set(*camera, xu::kProgramPiece, Program(0xFFF0, data)), kSOk);
  EXPECT_EQ(camera->Flash()[0xFFFF], 15);
  EXPECT_EQ(camera->Flash()[0x0000], 16);
  EXPECT_EQ(camera->Flash()[0x000F], 31);

  std::array<std::uint8_t, 60> block{};
  ASSERT_EQ(channel.ReadBlock(0xFFF0, 60, block), 0);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(block[31], 31);
  EXPECT_EQ(block[32], 0xFF);
}

TEST(SimCameraModel, BasicLoadingModeStreamsFromZero) {
  SimKnobs knobs;
  knobs.extended = false;
  SimCamera camera(knobs);
  EXPECT_EQ(Set(camera, xu::kLoadData, Bytes(16, 0)), kEInvalidParameter);  // not loading yet
  EXPECT_EQ(Set(camera, xu::kEnterLoadingMode, {0}), kEInvalidParameter);
  ASSERT_EQ(Set(camera, xu::kEnterLoadingMode, {1}), kSOk);
  EXPECT_TRUE(
      std::all_of(camera.Flash().begin(), camera.Flash().end(), [](auto b) { return b == 0xFF; }));
  for (std::uint8_t piece = 0; piece < 3; ++piece) {
    ASSERT_EQ(Set(camera, xu::kLoadData, Bytes(16, static_cast<std::uint8_t>(0x10 + piece))), kSOk);
  }
  EXPECT_EQ(camera.Flash()[0], 0x10);
  EXPECT_EQ(camera.Flash()[16], 0x11);
  EXPECT_EQ(camera.Flash()[47], 0x12);
  EXPECT_EQ(camera.Flash()[48], 0xFF);

  ASSERT_EQ(Set(camera, xu::kSetFlashAddress, {0x0E, 0x00}), kSOk);
  Bytes read(4, 0xEE);
  ASSERT_EQ(Get(camera, xu::kReadFlashData, read), kSOk);
  EXPECT_EQ(read, (Bytes{0x10, 0x10, 0x11, 0x11}));
  Bytes too_many(17);
  EXPECT_EQ(Get(camera, xu::kReadFlashData, too_many), kEInvalidParameter);
}

TEST(SimCameraModel, BasicLoadingStopsAtTheEndOfTheFlash) {
  SimKnobs knobs;
  knobs.extended = false;
  SimCamera camera(knobs);
  ASSERT_EQ(Set(camera, xu::kEnterLoadingMode, {1}), kSOk);
  for (std::uint32_t piece = 0; piece < kSimFlashSize / 16; ++piece) {
    ASSERT_EQ(Set(camera, xu::kLoadData, Bytes(16, 0x00)), kSOk);
  }
  EXPECT_EQ(Set(camera, xu::kLoadData, Bytes(16, 0x00)), kEInvalidParameter);
}

TEST(SimCameraModel, EachLayoutRefusesTheOthersCommands) {
  struct Case {
    bool extended;
    std::uint32_t selector;
    Bytes data;
  };
  const Case cases[] = {
      {true, xu::kEnterLoadingMode, {1}},
      {true, xu::kLoadData, Bytes(16, 0)},
      {true, xu::kAddress, {0x00, 0x10}},
      {false, xu::kEraseUnit, Erase(0x1000)},
      {false, xu::kProgramPiece, Program(0x1000, {0})},
      {false, xu::kRegister, {0x01, 0x0B, 0x44, 0, 0, 0, 0, 0, 0}},
      {false, xu::kAddress, {0x01, 0x0B, 0x44, 0, 0}},
  };
  for (const Case& c : cases) {
    SimKnobs knobs;
    knobs.extended = c.extended;
    SimCamera camera(knobs);
    EXPECT_EQ(Set(camera, c.selector, c.data), kEInvalidParameter)
        << c.selector << " extended " << c.extended;
  }
}

TEST(SimCameraModel, BlockReadPairWorksInBothLayouts) {
  for (const bool extended : {true, false}) {
    SimKnobs knobs;
    knobs.extended = extended;
    SimCamera camera(knobs);
    ASSERT_EQ(Set(camera, xu::kBlockAddress, {0x01, 0x00, 0xF0, 0, 0}), kSOk);
    Bytes reply(64);
    ASSERT_EQ(Get(camera, xu::kBlockReply, reply), kSOk);
    EXPECT_TRUE(std::equal(reply.begin() + 4, reply.end(), camera.Flash().begin() + 0xF000));
  }
}

// Six register reads of the chip id; returns each transfer's result.
std::vector<HResult> SixReads(SimCamera& camera) {
  std::vector<HResult> results;
  for (int i = 0; i < 6; ++i) {
    Bytes reply(4);
    results.push_back(Get(camera, xu::kVersion, reply));
  }
  return results;
}

TEST(SimCameraModel, FaultKnobsCountFromOne) {
  const HResult ok = kSOk, gone = kEDeviceGone, off = kEDeviceNotConnected;
  struct Case {
    std::uint32_t SimKnobs::*knob;
    std::uint32_t at;
    std::vector<HResult> expected;
    bool plugged;
  };
  const Case cases[] = {
      {&SimKnobs::fail_at, 1, {gone, ok, ok, ok, ok, ok}, true},
      {&SimKnobs::fail_at, 4, {ok, ok, ok, gone, ok, ok}, true},
      {&SimKnobs::unplug_at, 1, {off, off, off, off, off, off}, false},
      {&SimKnobs::unplug_at, 3, {ok, ok, off, off, off, off}, false},
      {&SimKnobs::drop_at, 2, {ok, ok, ok, ok, ok, ok}, true},
  };
  for (const Case& c : cases) {
    SimKnobs knobs;
    knobs.*c.knob = c.at;
    SimCamera camera(knobs);
    EXPECT_EQ(SixReads(camera), c.expected) << c.at;
    EXPECT_EQ(camera.Plugged(), c.plugged);
    EXPECT_EQ(camera.TransferCount(), 6u);
    EXPECT_EQ(camera.TakeDeviceEvents(),
              c.plugged ? std::vector<unsigned>{} : std::vector<unsigned>{0x8004});
  }
}

TEST(SimCameraModel, DroppedTransfersChangeNothing) {
  SimKnobs knobs;
  knobs.drop_at = 2;
  SimCamera camera(knobs);
  ASSERT_EQ(Set(camera, xu::kEraseUnit, Erase(0x3000)), kSOk);
  const SimFlash erased = camera.Flash();
  EXPECT_EQ(Set(camera, xu::kProgramPiece, Program(0x3000, Bytes(32, 0x00))), kSOk);
  EXPECT_EQ(camera.Flash(), erased);

  camera.Knobs().drop_at = 3;
  Bytes reply(4, 0xEE);
  EXPECT_EQ(Get(camera, xu::kVersion, reply), kSOk);
  EXPECT_EQ(reply, Bytes(4, 0xEE));
  EXPECT_EQ(camera.Log().back().data, Bytes(4, 0xEE));
}

TEST_F(SimCameraTest, UnplugShowsThroughTheChannel) {
  SimKnobs knobs;
  knobs.unplug_at = 2;
  Start(knobs);
  ASSERT_EQ(channel.WriteByte(0xE00C, 1), 0);
  EXPECT_EQ(channel.WriteByte(0xE00C, 2), -1);
  EXPECT_EQ(camera->Register(0xE00C), 1);
  EXPECT_FALSE(camera->Plugged());
  camera->Plug();
  EXPECT_EQ(channel.WriteByte(0xE00C, 3), 0);
  EXPECT_EQ(camera->TakeDeviceEvents(), (std::vector<unsigned>{0x8004, 0x8000}));
}

TEST(SimCameraModel, TransfersAreRecordedAndReported) {
  SimKnobs knobs;
  knobs.fail_at = 2;
  SimCamera camera(knobs);
  std::vector<TransferRecord> seen;
  camera.on_transfer = [&](const TransferRecord& record) { seen.push_back(record); };
  ASSERT_EQ(Set(camera, xu::kBlockAddress, {0x01, 0x10, 0xB0, 0, 0}), kSOk);
  Bytes reply(64, 0xEE);
  EXPECT_EQ(Get(camera, xu::kBlockReply, reply), kEDeviceGone);
  ASSERT_EQ(Get(camera, xu::kBlockReply, reply), kSOk);

  ASSERT_EQ(camera.Log().size(), 3u);
  const TransferRecord& first = camera.Log()[0];
  EXPECT_EQ(first.number, 1u);
  EXPECT_TRUE(first.is_set);
  EXPECT_EQ(first.id, xu::kBlockAddress + kOffset);
  EXPECT_EQ(first.data, (Bytes{0x01, 0x10, 0xB0, 0, 0}));
  EXPECT_TRUE(camera.Log()[1].data.empty());  // a failed GET received nothing
  EXPECT_EQ(camera.Log()[1].result, kEDeviceGone);
  EXPECT_EQ(camera.Log()[2].data, reply);
  EXPECT_EQ(seen.size(), 3u);

  camera.Knobs().record_log = false;
  EXPECT_EQ(Get(camera, xu::kBlockReply, reply), kSOk);
  EXPECT_EQ(camera.Log().size(), 3u);
  EXPECT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen.back().number, 4u);
}

TEST(SimCameraModel, TraceLineFormat) {
  TransferRecord record;
  record.number = 12;
  record.is_set = true;
  record.set = kConfigured;
  record.id = 19;
  record.length = 3;
  record.result = kEDeviceNotConnected;
  record.data = {0x01, 0xAB, 0x0c};
  EXPECT_EQ(FormatTraceLine(record),
            "12 SET set={F679EF5B-54DF-4BFC-B8CB-CA7E89A5233F} id=19 len=3 rc=0x8007048F "
            "data=01AB0C");
  record.is_set = false;
  record.result = 0;
  record.data.clear();
  EXPECT_EQ(FormatTraceLine(record),
            "12 GET set={F679EF5B-54DF-4BFC-B8CB-CA7E89A5233F} id=19 len=3 rc=0x00000000 data=");
}

TEST(SimCameraModel, DefaultFlashDiffersFromTheImageOnlyWhereTheCameraIsItsOwn) {
  SimKnobs knobs;
  knobs.version = 0x01020304;
  knobs.release_low = 0x77;
  knobs.release_high = 0x66;
  const SimFlash flash = SimCamera::DefaultFlash(knobs);
  const auto image = EmbeddedFirmware();

  std::set<std::uint32_t> allowed{0xB000, 0xB001, 0xB002, 0xB003, 0xFFEC,
                                  0xFFED, 0xBFFF, 0xCFFF, 0xFFFB};
  for (std::uint32_t a = 0xB010; a < 0xB100; ++a) {
    allowed.insert(a);
    EXPECT_NE(flash[a], image[a]) << std::hex << a;
  }
  for (std::uint32_t a = 0xFF00; a < 0xFF20; ++a) allowed.insert(a);
  for (std::uint32_t a = 0; a < kSimFlashSize; ++a) {
    if (!allowed.count(a)) {
      ASSERT_EQ(flash[a], image[a]) << std::hex << a;
    }
  }

  EXPECT_EQ(flash[0xB000], 0x04);
  EXPECT_EQ(flash[0xB003], 0x01);
  EXPECT_EQ(flash[0xFFEC], 0x77);
  EXPECT_EQ(flash[0xFFED], 0x66);
  const Bytes string(flash.begin() + 0xFF00, flash.begin() + 0xFF08);
  EXPECT_EQ(string, (Bytes{24, 0x03, 'T', 0, 'e', 0, 's', 0}));
  EXPECT_FALSE(std::equal(flash.begin() + 0xFF00, flash.begin() + 0xFF20, image.begin() + 0xFF00));

  const FirmwareImage balanced(flash);
  for (const auto& block : image::kChecksumBlocks) EXPECT_EQ(balanced.BlockSum(block), 0);
  EXPECT_EQ(SimCamera(knobs).RunningVersion(), 0x01020304u);
}

class SimFlashFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = std::filesystem::temp_directory_path() / (std::string("veltrane_sim_") + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string Path(const char* name) const { return (dir / name).string(); }

  std::filesystem::path dir;
};

TEST_F(SimFlashFileTest, SaveAndLoadRoundTripAndBoot) {
  SimCamera source;
  source.Flash()[0x1234] = 0x56;
  source.Flash()[0xB000] = 0x99;
  const std::string path = Path("flash.bin");
  ASSERT_TRUE(source.SaveFlash(path));
  ASSERT_TRUE(source.SaveFlash(path));  // over an existing file
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  EXPECT_EQ(std::filesystem::file_size(path), kSimFlashSize);

  SimCamera target;
  ASSERT_TRUE(target.LoadFlash(path));
  EXPECT_EQ(target.Flash(), source.Flash());
  EXPECT_EQ(target.RunningVersion() & 0xFFu, 0x99u);
}

TEST_F(SimFlashFileTest, RefusesFilesOfAnyOtherSize) {
  for (const std::size_t size : {std::size_t{0}, kSimFlashSize - 1, kSimFlashSize + 1}) {
    const std::string path = Path("wrong.bin");
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      const std::string bytes(size, '\0');
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    SimCamera camera;
    const SimFlash before = camera.Flash();
    EXPECT_FALSE(camera.LoadFlash(path)) << size;
    EXPECT_EQ(camera.Flash(), before);
  }
  SimCamera camera;
  EXPECT_FALSE(camera.LoadFlash(Path("missing.bin")));
  EXPECT_FALSE(camera.SaveFlash(Path("no/such/dir/flash.bin")));
}

}  // namespace
}  // namespace veltrane
