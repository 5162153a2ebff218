#include "camera/xu_channel.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/fake_ks_control.h"
#include "support/recording_view.h"

namespace veltrane {
namespace {

using testing::FakeKsControl;
using Transcript = std::vector<std::string>;

using testing::RecordingReporter;

const Guid kConfigured = *ParseGuid(kDefaultXuGuidText);
constexpr const char* kMinusOneText = "Unknown Error: 0xffffffff";
constexpr const char* kDeviceGoneText = "A device attached to the system is not functioning.";

class XuChannelTest : public ::testing::Test {
 protected:
  XuChannelTest() {
    channel.ConfigureXu(kDefaultXuGuidText);
    channel.SetPropertyInterface(fake);
  }
  void UseFallback() {
    channel.active_set = kFallbackXuSet;
    channel.active_offset = 0;
  }

  RecordingReporter reporter;
  std::shared_ptr<FakeKsControl> fake = std::make_shared<FakeKsControl>();
  XuChannel channel{reporter};
};

// One operation; `value` receives what it reads.
using Operation = std::function<std::int32_t(XuChannel&, std::uint32_t& value)>;

std::int32_t WriteByte(XuChannel& c, std::uint32_t&) {
  return c.WriteByte(0x1234, 0xAB);
}
std::int32_t ReadByte(XuChannel& c, std::uint32_t& value) {
  std::uint16_t byte = 0xEEEE;
  const auto result = c.ReadByte(0x34E3, byte);
  value = byte;
  return result;
}
std::int32_t ReadBlock(XuChannel& c, std::uint32_t& value) {
  std::array<std::uint8_t, 4> dest{0xEE, 0xEE, 0xEE, 0xEE};
  const auto result = c.ReadBlock(0x4010, 3, dest);
  value = std::uint32_t{dest[0]} << 24 | std::uint32_t{dest[1]} << 16 | dest[2] << 8 | dest[3];
  return result;
}
std::int32_t ReadVersion(XuChannel& c, std::uint32_t& value) {
  value = 0xEEEEEEEE;
  return c.ReadVersion(value);
}

struct PayloadCase {
  const char* name;
  Operation op;
  bool extended;
  bool fallback;
  Transcript expected;
  std::uint32_t value;  // read value; WriteByte leaves it 0
};

TEST_F(XuChannelTest, EachOperationSendsItsPayloadUnderEitherSet) {
  const std::vector<std::uint8_t> reply{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
  const PayloadCase cases[] = {
      {"write basic", WriteByte, false, false, {"SET 17 3412", "SET 18 ab"}, 0},
      {"write basic fb", WriteByte, false, true, {"SET 2 3412", "SET 3 ab"}, 0},
      {"write ext", WriteByte, true, false, {"SET 19 013412ab0000000000"}, 0},
      {"write ext fb", WriteByte, true, true, {"SET 4 013412ab0000000000"}, 0},
      {"read basic", ReadByte, false, false, {"SET 17 e334", "GET 18 /1"}, 0x01},
      {"read ext", ReadByte, true, false, {"SET 17 01e3340000", "GET 19 /9"}, 0x04},
      {"read ext fb", ReadByte, true, true, {"SET 2 01e3340000", "GET 4 /9"}, 0x04},
      {"block basic", ReadBlock, false, false, {"SET 31 0110400000", "GET 30 /64"}, 0x050607EE},
      {"block ext fb", ReadBlock, true, true, {"SET 16 0110400000", "GET 15 /64"}, 0x050607EE},
      {"version", ReadVersion, true, false, {"GET 27 /4"}, 0x01020304},
      {"version fb", ReadVersion, true, true, {"GET 12 /4"}, 0x01020304},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake->calls.clear();
    fake->replies = {reply};
    channel.ConfigureXu(kDefaultXuGuidText);
    if (c.fallback) UseFallback();
    channel.extended_xu = c.extended ? 1 : 0;
    std::uint32_t value = 0;
    EXPECT_EQ(c.op(channel, value), 0);
    EXPECT_EQ(fake->Transcript(), c.expected);
    EXPECT_EQ(value, c.value);
    for (const auto& call : fake->calls) {
      EXPECT_EQ(call.node.set, c.fallback ? kFallbackXuSet : kConfigured);
      EXPECT_EQ(call.node.flags, call.IsGet() ? 0x10000001u : 0x10000002u);
      EXPECT_EQ(call.node.node_id, 4u);
      EXPECT_EQ(call.node.reserved, 0u);
    }
  }
  EXPECT_TRUE(reporter.error_boxes.empty());
}

struct FailureCase {
  const char* name;
  Operation op;
  std::vector<HResult> results;  // per call, platform answers
  std::size_t calls;             // transfers made before stopping
  Transcript boxes;
  std::uint32_t untouched;  // the output as the operation found it
  bool basic_only;          // the extended write has no second step
};

TEST_F(XuChannelTest, AFailedStepStopsTheOperationWithItsBoxes) {
  const HResult gone = kEDeviceGone;
  const FailureCase cases[] = {
      {"write SET", WriteByte, {gone}, 1, {kDeviceGoneText, kMinusOneText}, 0, false},
      {"write 2nd SET", WriteByte, {0, gone}, 2, {kDeviceGoneText, kMinusOneText}, 0, true},
      {"read SET", ReadByte, {gone}, 1, {kDeviceGoneText, kMinusOneText}, 0xEEEE, false},
      {"read GET", ReadByte, {0, gone}, 2, {kMinusOneText}, 0xEEEE, false},
      {"block SET", ReadBlock, {gone}, 1, {kDeviceGoneText, kMinusOneText}, 0xEEEEEEEE, false},
      {"block GET", ReadBlock, {0, gone}, 2, {kMinusOneText}, 0xEEEEEEEE, false},
  };
  for (bool extended : {false, true}) {
    for (const auto& c : cases) {
      if (extended && c.basic_only) continue;
      SCOPED_TRACE(std::string(c.name) + (extended ? " ext" : " basic"));
      fake->calls.clear();
      reporter.error_boxes.clear();
      fake->results.assign(c.results.begin(), c.results.end());
      channel.extended_xu = extended ? 1 : 0;
      std::uint32_t value = 0;
      EXPECT_EQ(c.op(channel, value), -1);
      EXPECT_EQ(fake->calls.size(), c.calls);
      EXPECT_EQ(reporter.error_boxes, c.boxes);
      EXPECT_EQ(value, c.untouched);  // a failed read leaves its output alone
    }
  }
}

TEST_F(XuChannelTest, PrimitivesMapResults) {
  std::array<std::uint8_t, 2> data{};
  fake->results = {kEFail, kEFail, kSFalse};
  EXPECT_EQ(channel.XuSet(2, data), -1);
  EXPECT_EQ(reporter.error_boxes, Transcript{"Unspecified error"});
  EXPECT_EQ(channel.XuGet(2, data), -1);
  EXPECT_EQ(channel.XuGet(2, data), 0);
  EXPECT_EQ(reporter.error_boxes.size(), 1u);  // a failed GET is silent

  channel.SetPropertyInterface(nullptr);
  EXPECT_EQ(channel.XuSet(2, data), kEPointer);
  EXPECT_EQ(channel.XuGet(2, data), kEPointer);
  EXPECT_EQ(reporter.error_boxes.size(), 1u);
  for (Operation op : {Operation(WriteByte), Operation(ReadByte), Operation(ReadBlock)}) {
    reporter.error_boxes.clear();
    std::uint32_t value = 0;
    EXPECT_EQ(op(channel, value), -1);
    EXPECT_EQ(reporter.error_boxes, Transcript{"Invalid pointer"});
  }
  ProbeReply reply{};
  EXPECT_FALSE(channel.ProbeXu(true, reply));  // silently
  EXPECT_TRUE(reporter.app_boxes.empty());
}

TEST_F(XuChannelTest, ReadVersionOnlyInTheExtendedLayout) {
  std::uint32_t version = 7;
  for (std::uint32_t layout : {0u, 2u}) {
    channel.extended_xu = layout;
    EXPECT_EQ(channel.ReadVersion(version), -1);
  }
  EXPECT_EQ(version, 7u);
  EXPECT_TRUE(fake->calls.empty());
  EXPECT_TRUE(reporter.error_boxes.empty());
  // The byte operations take any non-zero value as extended.
  fake->calls.clear();
  EXPECT_EQ(channel.WriteByte(0x0001, 0x02), 0);
  EXPECT_EQ(fake->Transcript(), Transcript{"SET 19 010100020000000000"});
}

TEST_F(XuChannelTest, ReadBlockCopiesExactlyCountBytes) {
  std::vector<std::uint8_t> reply(64);
  for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<std::uint8_t>(i);
  std::vector<std::uint8_t> dest(61, 0xEE);

  fake->replies = {reply};
  EXPECT_EQ(channel.ReadBlock(0, 0, dest), 0);
  EXPECT_EQ(fake->calls.size(), 2u);
  EXPECT_EQ(dest, std::vector<std::uint8_t>(61, 0xEE));

  fake->replies = {reply};
  EXPECT_EQ(channel.ReadBlock(0, 60, dest), 0);
  EXPECT_EQ(dest[0], 4);
  EXPECT_EQ(dest[59], 63);
  EXPECT_EQ(dest[60], 0xEE);

  // Too many, or more than the destination holds: refused before any transfer.
  fake->calls.clear();
  EXPECT_EQ(channel.ReadBlock(0, 61, dest), -1);
  EXPECT_EQ(channel.ReadBlock(0, 5, std::span(dest).first(4)), -1);
  EXPECT_TRUE(fake->calls.empty());
  EXPECT_EQ(reporter.error_boxes, Transcript(2, "The parameter is incorrect."));
}

TEST_F(XuChannelTest, ProbeFallsBackAndKeepsTheFallback) {
  ProbeReply reply{};
  EXPECT_TRUE(channel.ProbeXu(false, reply));
  EXPECT_EQ(fake->Transcript(), Transcript{"GET 0 /1024"});
  EXPECT_EQ(fake->calls[0].node.set, kConfigured);

  for (bool second_answers : {true, false}) {
    SCOPED_TRACE(second_answers);
    channel.ConfigureXu(kDefaultXuGuidText);
    fake->calls.clear();
    fake->results = {kEFail, second_answers ? kSOk : kEFail};
    EXPECT_EQ(channel.ProbeXu(false, reply), second_answers);
    EXPECT_EQ(fake->Transcript(), (Transcript{"GET 0 /1024", "GET 0 /1024"}));
    EXPECT_EQ(fake->calls[1].node.set, kFallbackXuSet);
    EXPECT_EQ(channel.active_set, kFallbackXuSet);
    EXPECT_EQ(channel.active_offset, 0u);
  }
  EXPECT_EQ(reporter.app_boxes, Transcript{"Wrong XU GUID!"});
  EXPECT_TRUE(reporter.error_boxes.empty());

  // Without restart the next probe starts from the fallback; with it, from the configured set.
  fake->calls.clear();
  channel.ProbeXu(false, reply);
  channel.ProbeXu(true, reply);
  EXPECT_EQ(fake->calls[0].node.set, kFallbackXuSet);
  EXPECT_EQ(fake->calls[1].node.set, kConfigured);
  EXPECT_EQ(channel.active_offset, 15u);
}

TEST_F(XuChannelTest, UnparsableGuidLeavesTheConfiguredSetEmpty) {
  const std::string long_text = std::string(kDefaultXuGuidText) + "   ";
  for (const std::string& text :
       {std::string(), std::string("F679EF5B-54DF-4bfc-B8CB-CA7E89A5233F"), long_text}) {
    SCOPED_TRACE(text);
    XuChannel fresh{reporter};
    fresh.SetPropertyInterface(fake);
    fresh.ConfigureXu(text);
    EXPECT_EQ(fresh.configured_set, Guid{});
    EXPECT_EQ(fresh.configured_offset, 15u);
    fresh.active_set = kFallbackXuSet;
    fake->calls.clear();
    ProbeReply reply{};
    fresh.ProbeXu(true, reply);
    EXPECT_EQ(fake->calls.at(0).node.set, Guid{});
  }
}

TEST_F(XuChannelTest, ByteSixteenOfTheProbeReplyPicksTheLayout) {
  for (auto [byte, extended] : {std::pair{0x0F, false}, {0x10, true}, {0xFF, true}, {0, false}}) {
    std::vector<std::uint8_t> answer(kProbeReplySize);
    answer[16] = static_cast<std::uint8_t>(byte);
    fake->replies = {answer};
    ProbeReply reply{};
    ASSERT_TRUE(channel.ProbeXu(false, reply));
    EXPECT_EQ(XuChannel::ReplyIsExtended(reply), extended) << byte;
  }
}

}  // namespace
}  // namespace veltrane
