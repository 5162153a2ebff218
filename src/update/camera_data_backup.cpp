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

constexpr std::string_view kHeader = "Veltrane camera data backup 3";
// 2.04 wrote no port; its records are read as they are and kept so.
constexpr std::string_view kHeader2 = "Veltrane camera data backup 2";
// What versions 2.03 and before wrote: a backup with no update state.
constexpr std::string_view kOldHeader = "Veltrane camera data backup 1";
constexpr std::string_view kFilePrefix = "camera-data-";
constexpr std::string_view kFileSuffix = ".txt";
constexpr std::size_t kBytesPerLine = 32;
// A record is about 9.5 KB; anything much larger is not one.
constexpr std::uintmax_t kMaxFileSize = 16 * 1024;
constexpr std::size_t kMaxSequenceDigits = 9;
// Names taken by records written at the same moment by other runs.
constexpr unsigned kMaxNameTries = 1000;
constexpr std::string_view kStarted = "started";
constexpr std::string_view kFinished = "finished";

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
  constexpr std::string_view kShape = "0000-00-00T00:00:00Z";
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
  return StringPrintf("%04d-%02d-%02dT%02d:%02d:%02dZ", time.tm_year + 1900, time.tm_mon + 1,
                      time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec);
}

// Decimal, 1 to 9 digits, no leading zero: one spelling per number.
std::optional<std::uint32_t> ParseSequence(std::string_view text) {
  if (text.empty() || text.size() > kMaxSequenceDigits || text[0] == '0') return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return value;
}

// Device paths come from the system and the device: whatever the format
// refuses becomes '?', and the text is cut to its limit.
std::string DeviceField(std::string_view device) {
  std::string out(device.substr(0, kMaxBackupDeviceLength));
  for (char& c : out) {
    if (c < 0x20 || c > 0x7E) c = '?';
  }
  return out;
}

std::string IdsPrefix(std::uint16_t vendor_id, std::uint16_t product_id) {
  return std::string(kFilePrefix) + StringPrintf("%04x-%04x-", static_cast<unsigned>(vendor_id),
                                                 static_cast<unsigned>(product_id));
}

// The sequence a record's name ends in ("...Z-17.txt" is 17); 0 for none.
std::uint32_t SequenceOf(std::string_view name) {
  if (name.size() <= kFileSuffix.size() || !name.ends_with(kFileSuffix)) return 0;
  name.remove_suffix(kFileSuffix.size());
  const std::size_t dash = name.find_last_of('-');
  if (dash == std::string_view::npos) return 0;
  return ParseSequence(name.substr(dash + 1)).value_or(0);
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
  const bool with_port = backup.format != 2;
  text += with_port ? kHeader : kHeader2;
  text += '\n';
  text += StringPrintf("usb-ids: %04x:%04x\n", static_cast<unsigned>(backup.vendor_id),
                       static_cast<unsigned>(backup.product_id));
  text += "device: " + backup.device + "\n";
  if (with_port) text += "port: " + backup.port + "\n";
  text += "firmware: " + backup.firmware_version + "\n";
  text += "saved: " + backup.saved_at + "\n";
  text += "sequence: " + std::to_string(backup.sequence) + "\n";
  text += "update: " + std::string(backup.finished ? kFinished : kStarted) + "\n";
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
  const auto header = lines.Next();
  if (header == kOldHeader) {
    return fail("written by an older version, which does not record whether its update finished");
  }
  if (header != kHeader && header != kHeader2) return fail("not a camera data backup");
  backup.format = header == kHeader ? 3 : 2;
  const auto ids = Field(lines.Next(), "usb-ids");
  const auto vendor = ids && ids->size() == 9 && (*ids)[4] == ':'
                          ? ParseHexField(ids->substr(0, 4), 4)
                          : std::nullopt;
  const auto product = vendor ? ParseHexField(ids->substr(5), 4) : std::nullopt;
  if (!product) return fail("line 2: bad USB ids");
  backup.vendor_id = static_cast<std::uint16_t>(*vendor);
  backup.product_id = static_cast<std::uint16_t>(*product);

  const auto device = Field(lines.Next(), "device");
  if (!device || device->size() > kMaxBackupDeviceLength || !IsPrintable(*device)) {
    return fail("line 3: bad device");
  }
  backup.device = std::string(*device);

  if (backup.format == 3) {
    const auto port = Field(lines.Next(), "port");
    if (!port || port->size() > kMaxBackupDeviceLength || !IsPrintable(*port)) {
      return fail("line 4: bad port");
    }
    backup.port = std::string(*port);
  }

  const auto version = Field(lines.Next(), "firmware");
  if (!version || version->size() > kMaxBackupVersionLength || !IsPrintable(*version)) {
    return fail("line " + std::to_string(lines.Number()) + ": bad firmware version");
  }
  backup.firmware_version = std::string(*version);

  const auto saved = Field(lines.Next(), "saved");
  if (!saved || !IsTimeStamp(*saved)) {
    return fail("line " + std::to_string(lines.Number()) + ": bad time");
  }
  backup.saved_at = std::string(*saved);

  const auto sequence_text = Field(lines.Next(), "sequence");
  const auto sequence = sequence_text ? ParseSequence(*sequence_text) : std::nullopt;
  if (!sequence) return fail("line " + std::to_string(lines.Number()) + ": bad sequence");
  backup.sequence = *sequence;

  const auto state = Field(lines.Next(), "update");
  if (state != kStarted && state != kFinished) {
    return fail("line " + std::to_string(lines.Number()) + ": bad update state");
  }
  backup.finished = state == kFinished;

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

std::string BackupFileName(const CameraDataBackup& backup, const std::tm& utc) {
  return IdsPrefix(backup.vendor_id, backup.product_id) +
         StringPrintf("%04d%02d%02dT%02d%02d%02dZ-%u", utc.tm_year + 1900, utc.tm_mon + 1,
                      utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                      static_cast<unsigned>(backup.sequence)) +
         std::string(kFileSuffix);
}

std::uint32_t BackupDirectory::NextSequence() const {
  std::uint32_t highest = 0;
  std::error_code ec;
  for (fs::directory_iterator it(directory_, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = PathText(it->path().filename());
    if (name.rfind(kFilePrefix, 0) == 0) highest = std::max(highest, SequenceOf(name));
  }
  return highest + 1;
}

CameraDataBackups::Written BackupDirectory::Write(CameraDataBackup& backup) {
  Written result;
  if (directory_.empty()) {
    result.error = "no directory for update records is known";
    return result;
  }
  if (std::string error = files_.MakeDirectory(directory_); !error.empty()) {
    result.error = error;
    return result;
  }
  const std::tm now = clock_.UtcTime();
  backup.saved_at = TimeStamp(now);
  backup.device = DeviceField(backup.device);
  backup.port = DeviceField(backup.port);
  backup.finished = false;
  backup.format = 3;
  backup.sequence = NextSequence();
  for (unsigned tries = 0; tries < kMaxNameTries; ++tries, ++backup.sequence) {
    const fs::path path = directory_ / BackupFileName(backup, now);
    const PrivateFiles::Written written = files_.Write(path, FormatBackup(backup), false);
    // Another run took this sequence a moment ago: the next one is free.
    if (written.exists) continue;
    result.ok = written.ok;
    result.path = PathText(path);
    result.error = written.error;
    return result;
  }
  result.error = "no free name for a record in " + PathText(directory_);
  return result;
}

CameraDataBackups::Written BackupDirectory::MarkFinished(const Found& record) {
  CameraDataBackup finished = record.backup;
  finished.finished = true;
  const PrivateFiles::Written written =
      files_.Write(fs::path(std::u8string(record.path.begin(), record.path.end())),
                   FormatBackup(finished), true);
  return {written.ok, record.path, written.error};
}

std::vector<CameraDataBackups::Found> BackupDirectory::Records(
    std::uint16_t vendor_id, std::uint16_t product_id,
    const std::function<void(const std::string&)>& ignored) const {
  const std::string prefix = IdsPrefix(vendor_id, product_id);
  std::vector<Found> found;
  std::error_code ec;
  for (fs::directory_iterator it(directory_, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = PathText(it->path().filename());
    if (name.size() <= prefix.size() + kFileSuffix.size() || name.rfind(prefix, 0) != 0 ||
        !name.ends_with(kFileSuffix)) {
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
    found.push_back({std::move(*backup), path});
  }
  std::sort(found.begin(), found.end(),
            [](const Found& a, const Found& b) { return a.backup.sequence > b.backup.sequence; });
  return found;
}

std::vector<CameraDataBackups::Found> BackupDirectory::Unfinished(
    std::uint16_t vendor_id, std::uint16_t product_id,
    const std::function<void(const std::string&)>& ignored) {
  std::vector<Found> found = Records(vendor_id, product_id, ignored);
  std::erase_if(found, [](const Found& record) { return record.backup.finished; });
  return found;
}

std::vector<std::string> BackupDirectory::Prune(std::uint16_t vendor_id, std::uint16_t product_id,
                                                const std::string& port, std::size_t keep) {
  std::vector<std::string> removed;
  std::size_t kept = 0;
  for (const Found& record : Records(vendor_id, product_id, [](const std::string&) {})) {
    if (!record.backup.finished || record.backup.port != port || kept++ < keep) continue;
    std::error_code error;
    if (fs::remove(fs::path(std::u8string(record.path.begin(), record.path.end())), error)) {
      removed.push_back(record.path);
    }
  }
  return removed;
}

}  // namespace veltrane
