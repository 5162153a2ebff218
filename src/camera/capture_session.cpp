#include "camera/capture_session.h"

#include <cstddef>
#include <string_view>

namespace veltrane {
namespace {

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::string CaptureSession::PortOf(const std::string& name) const {
  // "...\\?\usb#vid_3f2a&pid_0a51&mi_00#6&2a1b3c4d&0&0000#{class}\global":
  // enumerator, device id and instance id, '#' for '\'.
  constexpr std::string_view kPathStart = "\\\\?\\";
  const std::size_t start = name.find(kPathStart);
  if (start == std::string::npos) return "";
  const std::string_view path = std::string_view(name).substr(start + kPathStart.size());
  const std::size_t first = path.find('#');
  const std::size_t second = first == std::string_view::npos ? first : path.find('#', first + 1);
  const std::size_t third = second == std::string_view::npos ? second : path.find('#', second + 1);
  if (third == std::string_view::npos || first == 0 || second == first + 1 || third == second + 1) {
    return "";
  }
  std::string instance;
  for (std::size_t i = 0; i < third; ++i) instance += path[i] == '#' ? '\\' : Upper(path[i]);
  return instance;
}

}  // namespace veltrane
