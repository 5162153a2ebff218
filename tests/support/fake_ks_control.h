// A KsControl that records every call and answers from a script.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "camera/ks_property.h"

namespace veltrane::testing {

struct KsCall {
  KspNode node;
  std::uint32_t length = 0;
  std::vector<std::uint8_t> bytes;  // the buffer as handed over

  bool IsGet() const { return (node.flags & kKsPropertyTypeGet) != 0; }
  // "SET 17 0b44" or "GET 18 /1": direction, property Id, payload or length.
  std::string Describe() const {
    std::string text = (IsGet() ? "GET " : "SET ") + std::to_string(node.id) + " ";
    if (IsGet()) return text + "/" + std::to_string(length);
    constexpr std::string_view kHex = "0123456789abcdef";
    for (std::uint8_t byte : bytes) {
      text += kHex[byte >> 4];
      text += kHex[byte & 0x0F];
    }
    return text;
  }
};

class FakeKsControl : public KsControl {
 public:
  HResult KsProperty(const KspNode& property, void* data, std::uint32_t length) override {
    auto* bytes = static_cast<std::uint8_t*>(data);
    calls.push_back({property, length, std::vector<std::uint8_t>(bytes, bytes + length)});
    HResult result = kSOk;
    if (!results.empty()) {
      result = results.front();
      results.pop_front();
    }
    if (result >= 0 && calls.back().IsGet() && !replies.empty()) {
      const auto& reply = replies.front();
      std::copy_n(reply.begin(), std::min<std::size_t>(reply.size(), length), bytes);
      replies.pop_front();
    }
    return result;
  }

  std::vector<std::string> Transcript() const {
    std::vector<std::string> out;
    for (const auto& call : calls) out.push_back(call.Describe());
    return out;
  }

  std::deque<HResult> results;                    // per call; kSOk once empty
  std::deque<std::vector<std::uint8_t>> replies;  // per successful GET
  std::vector<KsCall> calls;
};

}  // namespace veltrane::testing
