#include "update/camera_data_backup.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "common/text_format.h"

namespace veltrane {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeader = "Veltrane camera data backup 1";
constexpr std::string_view kFilePrefix = "camera-data-";
constexpr std::string_view kFileSuffix = ".txt";
constexpr std::size_t kBytesPerLine = 32;
// A backup is about 9.5 KB; anything much larger is not one.
constexpr std::uintmax_t kMaxFileSize = 16 * 1024;
constexpr unsigned kMaxSequence = 1000;

void AppendBytesLine(std::string& out, std::uint32_t address, std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += StringPrintf("%04x: ", static_cast<unsigned>(address));
  for (const std::uint8_t byte : bytes) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
  }
  out += '\n';
}

void AppendBytes(std::string& out, std::uint32_t address, std::span<const std::uint8_t> bytes) {
  for (std::size_t at = 0; at < bytes.size(); at += kBytesPerLine) {
    AppendBytesLine(out, address + static_cast<std::uint32_t>(at),
                    bytes.subspan(at, std::min(kBytesPerLine, bytes.size() - at)));
  }
}

// Reads the text line by line; every line must end in '\n'.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}

  std::optional<std::string_view> Next() {
    const std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    ++number_;
    return line;
  }
  // Everything read so far.
  std::string_view Consumed() const { return text_.substr(0, pos_); }
  bool AtEnd() const { return pos_ == text_.size(); }
  int Number() const { return number_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  int number_ = 0;
};

std::optional<std::uint32_t> ParseHexField(std::string_view text, std::size_t digits) {
  if (text.size() != digits) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    // Lower case only, as written: one spelling per byte keeps the checksum meaningful.
    if (HexDigitValue(c) < 0 || (c >= 'A' && c <= 'F')) return std::nullopt;
    value = (value << 4) | static_cast<std::uint32_t>(HexDigitValue(c));
  }
  return value;
}

bool IsTimeStamp(std::string_view text) {
  constexpr std::string_view kShape = "0000-00-00 00:00:00";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == '0' ? !digit : text[i] != kShape[i]) return false;
  }
  return true;
}

bool IsPrintable(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// "<key>: <value>" with the expected key.
std::optional<std::string_view> Field(std::optional<std::string_view> line, std::string_view key) {
  if (!line || line->size() < key.size() + 2 || line->substr(0, key.size()) != key ||
      line->substr(key.size(), 2) != ": ") {
    return std::nullopt;
  }
  return line->substr(key.size() + 2);
}

bool ParseBytes(Lines& lines, std::uint32_t address, std::span<std::uint8_t> out) {
  for (std::size_t at = 0; at < out.size(); at += kBytesPerLine) {
    const std::size_t n = std::min(kBytesPerLine, out.size() - at);
    const auto line = lines.Next();
    if (!line || line->size() != 6 + 2 * n || line->substr(4, 2) != ": ") return false;
    const auto line_address = ParseHexField(line->substr(0, 4), 4);
    if (!line_address || *line_address != address + at) return false;
    for (std::size_t i = 0; i < n; ++i) {
      const auto byte = ParseHexField(line->substr(6 + 2 * i, 2), 2);
      if (!byte) return false;
      out[at + i] = static_cast<std::uint8_t>(*byte);
    }
  }
  return true;
}

std::string TimeStamp(const std::tm& time) {
  return StringPrintf("%04d-%02d-%02d %02d:%02d:%02d", time.tm_year + 1900, time.tm_mon + 1,
                      time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec);
}

std::string IdsPrefix(std::uint16_t vendor_id, std::uint16_t product_id) {
  return std::string(kFilePrefix) + StringPrintf("%04x-%04x-", static_cast<unsigned>(vendor_id),
                                                 static_cast<unsigned>(product_id));
}

// The sequence number of a backup file's name ("...-093259-2.txt" is 2).
unsigned SequenceOf(std::string_view name) {
  name.remove_suffix(kFileSuffix.size());
  const std::size_t dash = name.find_last_of('-');
  const std::string_view tail = name.substr(dash + 1);
  // The time part has six digits; a sequence has fewer.
  if (tail.empty() || tail.size() >= 6) return 1;
  unsigned value = 0;
  for (const char c : tail) {
    if (c < '0' || c > '9') return 1;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value;
}

std::optional<std::string> ReadSmallFile(const fs::path& path, std::string& error) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) {
    error = ec.message();
    return std::nullopt;
  }
  if (size > kMaxFileSize) {
    error = "too large to be a backup";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in.good() && !in.eof()) {
    error = "can not be read";
    return std::nullopt;
  }
  return text;
}

}  // namespace

std::uint32_t BackupChecksum(std::string_view text) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char c : text) {
    crc ^= static_cast<std::uint8_t>(c);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string PathText(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string FormatBackup(const CameraDataBackup& backup) {
  std::string text;
  text.reserve(10 * 1024);
  text += kHeader;
  text += '\n';
  text += StringPrintf("usb-ids: %04x:%04x\n", static_cast<unsigned>(backup.vendor_id),
                       static_cast<unsigned>(backup.product_id));
  text += "firmware: " + backup.firmware_version + "\n";
  text += "saved: " + backup.saved_at + "\n";
  AppendBytes(text, camera_data::kAreaAddress, backup.data.area);
  AppendBytes(text, camera_data::kStringAddress, backup.data.string);
  text += StringPrintf("crc32: %08x\n", static_cast<unsigned>(BackupChecksum(text)));
  return text;
}

std::optional<CameraDataBackup> ParseBackup(std::string_view text, std::string& error) {
  Lines lines(text);
  CameraDataBackup backup;
  auto fail = [&](const std::string& why) {
    error = why;
    return std::nullopt;
  };
  if (lines.Next() != kHeader) return fail("not a camera data backup");
  const auto ids = Field(lines.Next(), "usb-ids");
  const auto vendor = ids && ids->size() == 9 && (*ids)[4] == ':'
                          ? ParseHexField(ids->substr(0, 4), 4)
                          : std::nullopt;
  const auto product = vendor ? ParseHexField(ids->substr(5), 4) : std::nullopt;
  if (!product) return fail("line 2: bad USB ids");
  backup.vendor_id = static_cast<std::uint16_t>(*vendor);
  backup.product_id = static_cast<std::uint16_t>(*product);

  const auto version = Field(lines.Next(), "firmware");
  if (!version || version->size() > kMaxBackupVersionLength || !IsPrintable(*version)) {
    return fail("line 3: bad firmware version");
  }
  backup.firmware_version = std::string(*version);

  const auto saved = Field(lines.Next(), "saved");
  if (!saved || !IsTimeStamp(*saved)) return fail("line 4: bad time");
  backup.saved_at = std::string(*saved);

  if (!ParseBytes(lines, camera_data::kAreaAddress, backup.data.area) ||
      !ParseBytes(lines, camera_data::kStringAddress, backup.data.string)) {
    return fail("line " + std::to_string(lines.Number()) + ": bad data line");
  }
  const std::uint32_t computed = BackupChecksum(lines.Consumed());
  const auto stored = Field(lines.Next(), "crc32");
  const auto crc = stored ? ParseHexField(*stored, 8) : std::nullopt;
  if (!crc) return fail("line " + std::to_string(lines.Number()) + ": bad checksum line");
  if (*crc != computed) return fail("checksum mismatch: the file is damaged");
  if (!lines.AtEnd()) return fail("text after the checksum");
  return backup;
}

std::string BackupFileName(std::uint16_t vendor_id, std::uint16_t product_id, const std::tm& time,
                           unsigned sequence) {
  std::string name = IdsPrefix(vendor_id, product_id) +
                     StringPrintf("%04d%02d%02d-%02d%02d%02d", time.tm_year + 1900, time.tm_mon + 1,
                                  time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec);
  if (sequence > 1) {
    name += '-';
    name += std::to_string(sequence);
  }
  return name + std::string(kFileSuffix);
}

CameraDataBackups::Written BackupDirectory::Write(CameraDataBackup backup) {
  Written result;
  if (directory_.empty()) {
    result.error = "no directory for backups is known";
    return result;
  }
  std::error_code ec;
  fs::create_directories(directory_, ec);
  if (!fs::is_directory(directory_, ec)) {
    result.error = "can not create the directory " + PathText(directory_);
    return result;
  }
  const std::tm now = clock_.LocalTime();
  backup.saved_at = TimeStamp(now);
  fs::path path;
  for (unsigned sequence = 1; sequence <= kMaxSequence; ++sequence) {
    path = directory_ / BackupFileName(backup.vendor_id, backup.product_id, now, sequence);
    if (!fs::exists(path, ec)) break;
  }
  result.path = PathText(path);
  fs::path temporary = path;
  temporary += ".tmp";
  const std::string text = FormatBackup(backup);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      fs::remove(temporary, ec);
      result.error = "can not write " + PathText(temporary);
      return result;
    }
  }
  fs::rename(temporary, path, ec);
  if (ec) {
    fs::remove(temporary, ec);
    result.error = "can not rename " + PathText(temporary) + " into place";
    return result;
  }
  result.ok = true;
  return result;
}

std::optional<CameraDataBackups::Found> BackupDirectory::Newest(
    std::uint16_t vendor_id, std::uint16_t product_id,
    const std::function<void(const std::string&)>& ignored) {
  const std::string prefix = IdsPrefix(vendor_id, product_id);
  std::error_code ec;
  std::optional<Found> newest;
  unsigned newest_sequence = 0;
  for (fs::directory_iterator it(directory_, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = PathText(it->path().filename());
    if (name.size() <= prefix.size() + kFileSuffix.size() || name.rfind(prefix, 0) != 0 ||
        name.substr(name.size() - kFileSuffix.size()) != kFileSuffix) {
      continue;
    }
    const std::string path = PathText(it->path());
    std::string error;
    const std::optional<std::string> text = ReadSmallFile(it->path(), error);
    std::optional<CameraDataBackup> backup;
    if (text) backup = ParseBackup(*text, error);
    if (!backup) {
      ignored(path + ": " + error);
      continue;
    }
    if (backup->vendor_id != vendor_id || backup->product_id != product_id) {
      ignored(path + StringPrintf(": it is for USB ids %04x:%04x",
                                  static_cast<unsigned>(backup->vendor_id),
                                  static_cast<unsigned>(backup->product_id)));
      continue;
    }
    const unsigned sequence = SequenceOf(name);
    if (!newest || backup->saved_at > newest->backup.saved_at ||
        (backup->saved_at == newest->backup.saved_at && sequence > newest_sequence)) {
      newest = Found{std::move(*backup), path};
      newest_sequence = sequence;
    }
  }
  return newest;
}

}  // namespace veltrane
