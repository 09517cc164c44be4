#include "capture/CaptureFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>
#include <system_error>
#include <vector>

#include "config/StationFileNames.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "platform/Spawn.h"
#include "platform/SystemInfo.h"
#include "platform/Text.h"

namespace halvik {
namespace {

constexpr std::string_view kTemporaryCode = "tmp";
constexpr std::size_t kDatePartLength = 7;  // "We02Jan"

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// One character of a header block: its 8-bit code sign-extended to 16 bits.
std::uint16_t HeaderWord(char c) {
  return static_cast<std::uint16_t>(static_cast<std::int16_t>(static_cast<signed char>(c)));
}

// The name line of elements.dat compared with a satellite name: only trailing blanks (the space
// character itself) are dropped.
std::string WithoutTrailingSpaces(std::string line) {
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

// Whether a name is in use: anything there but an empty regular file.
bool Occupied(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return errno != ENOENT;
  return !S_ISREG(info.st_mode) || info.st_size > 0;
}

}  // namespace

std::string CaptureFileCode(std::string_view name) {
  const char* code = FactsOf(FamilyForSatellite(name)).fileCode;
  if (*code != '\0') return code;
  // "noaa " followed by a number of one or two digits; "noaa 9" .. "noaa 16" are the table's.
  constexpr std::string_view prefix = "noaa ";
  if (name.size() > prefix.size() && name.size() <= prefix.size() + 2 &&
      EqualsIgnoreCase(name.substr(0, prefix.size()), prefix)) {
    std::string_view digits = name.substr(prefix.size());
    if (std::all_of(digits.begin(), digits.end(), IsDigit)) {
      long number = ParseLong(digits);
      if (number >= 1) return Format("N%02ld", number);
    }
  }
  return "N00";
}

std::string CaptureDatePart(std::int64_t seconds) {
  static constexpr const char* kWeekdays[7] = {"Su", "Mo", "Tu", "We", "Th", "Fr", "Sa"};
  static constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // The offset west of Greenwich added back before the local breakdown yields the UTC date
  // (one hour later under daylight saving time), whatever zone the station is in.
  tzset();
  std::time_t t = static_cast<std::time_t>(seconds + timezone);
  std::tm parts{};
  if (!localtime_r(&t, &parts)) return "Th01Jan";
  return Format("%s%02d%s", kWeekdays[parts.tm_wday % 7], parts.tm_mday,
                kMonths[parts.tm_mon % 12]);
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0;
  std::size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool LooksLikeCaptureName(std::string_view name) {
  if (name.ends_with(kCaduSuffix)) name.remove_suffix(kCaduSuffix.size());
  if (name.size() != kDatePartLength + 1 + 1 + 3) return false;
  return IsLetter(name[0]) && IsLetter(name[1]) && IsDigit(name[2]) && IsDigit(name[3]) &&
         IsLetter(name[4]) && IsLetter(name[5]) && IsLetter(name[6]) &&
         (IsLetter(name[7]) || IsDigit(name[7])) && name[8] == '.';
}

std::size_t DiskBudget::Take(std::size_t wanted) {
  std::int64_t left = left_.load();
  for (;;) {
    std::int64_t granted = std::clamp<std::int64_t>(left, 0, static_cast<std::int64_t>(wanted));
    if (left_.compare_exchange_weak(left, left - granted)) return static_cast<std::size_t>(granted);
  }
}

CaptureFile::CaptureFile(CaptureFileContext context)
    : context_(std::move(context)), block_(std::make_unique<std::uint16_t[]>(kLongestFrameWords)) {
  if constexpr (std::endian::native == std::endian::big) {
    swapped_ = std::make_unique<std::uint16_t[]>(kLongestFrameWords);
  }
}

CaptureFile::~CaptureFile() {
  CloseCaptureFile();
}

double CaptureFile::FreeBytes() {
  // A failed query counts as enough space.
  return context_.systemInfo.FreeBytes(context_.workingDirectory).value_or(kMinimumFreeBytes);
}

void CaptureFile::ApplyFreeSpaceRule(SatelliteFamily family) {
  if (FreeBytes() >= kMinimumFreeBytes) return;
  // A pass's baseband is tens of times its capture: the recordings go first.
  if (PruneIqRecordings() && FreeBytes() >= kMinimumFreeBytes) return;
  // Prune harder and harder, but always keep the newest capture of the family.
  for (int limit = kCaptureFileLimit - 1; limit >= 1; --limit) {
    PruneCaptureFiles(family, limit);
    if (FreeBytes() >= kMinimumFreeBytes) return;
  }
}

bool CaptureFile::PruneIqRecordings() {
  constexpr std::string_view kData = ".sigmf-data";
  std::vector<std::pair<std::int64_t, std::filesystem::path>> recordings;  // modified, data file
  std::error_code error;
  std::filesystem::directory_iterator it(context_.workingDirectory, error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!name.starts_with(kIqRecordingPrefix) || !name.ends_with(kData)) continue;
    struct stat info {};
    if (::stat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    recordings.emplace_back(static_cast<std::int64_t>(info.st_mtime), it->path());
  }
  std::sort(recordings.begin(), recordings.end());
  bool removed = false;
  for (const auto& [modified, data] : recordings) {
    if (FreeBytes() >= kMinimumFreeBytes) break;
    removed = true;
    std::filesystem::path meta = data;
    std::filesystem::remove(data, error);
    std::filesystem::remove(meta.replace_extension(".sigmf-meta"), error);
  }
  return removed;
}

void CaptureFile::PruneCaptureFiles(SatelliteFamily family, int limit) {
  struct Entry {
    std::string name;
    std::int64_t modified;  // last-write time, whole seconds
  };
  const char* pattern = FactsOf(family).pruningPattern;
  std::vector<Entry> entries;
  std::error_code error;
  std::filesystem::directory_iterator it(context_.workingDirectory, error);
  if (error) return;
  // Stepped with an error code: a directory that changes or fails under the listing ends it
  // quietly instead of throwing.
  for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
    if (error) break;
    const std::filesystem::path path = it->path();
    std::string name = path.filename().string();
    // Only capture files: a station file such as "sats.dat.new" matches "*.N*" as well.
    if (!LooksLikeCaptureName(name) || !WildcardMatch(pattern, name)) continue;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    entries.push_back({std::move(name), static_cast<std::int64_t>(info.st_mtime)});
  }
  if (entries.size() <= static_cast<std::size_t>(std::max(limit, 0))) return;
  // The directory gives no order; name order makes the choice among equal times repeatable.
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  // Earliest first: the first of several equally early entries is swapped into place.
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::size_t earliest = i;
    for (std::size_t j = i + 1; j < entries.size(); ++j) {
      if (entries[j].modified < entries[earliest].modified) earliest = j;
    }
    if (earliest != i) std::swap(entries[i], entries[earliest]);
  }
  std::size_t excess = entries.size() - static_cast<std::size_t>(limit);
  for (std::size_t i = 0; i < excess; ++i) {
    std::filesystem::remove(InDirectory(entries[i].name), error);
    if (entries[i].name.ends_with(kCaduSuffix)) {
      std::filesystem::remove(InDirectory(PassRecordNameFor(entries[i].name)), error);
    }
  }
}

bool CaptureFile::ChooseName(const std::string& date, const std::string& code,
                             std::string_view ownTemporaryName) {
  for (char letter : kCaptureLetters) {
    std::string finalName = date + letter + "." + code;
    std::string temporaryName = date + letter + "." + std::string(kTemporaryCode);
    if (IsCadu()) {
      // The CADUs and their record carry the family's code in every name, so no HRPT reader
      // ever takes them for a capture of its own.
      finalName += kCaduSuffix;
      temporaryName = finalName + std::string(kPartSuffix);
      if (Occupied(InDirectory(PassRecordNameFor(finalName)))) continue;
    }
    // A non-empty temporary file under the same letter is a recording kept from an earlier
    // capture (its rename failed, or it is being finished): it is passed over, never reused.
    if (Occupied(InDirectory(finalName))) continue;
    if (temporaryName != ownTemporaryName && Occupied(InDirectory(temporaryName))) continue;
    finalName_ = std::move(finalName);
    temporaryName_ = std::move(temporaryName);
    return true;
  }
  context_.messages.Show(
      Format("Cannot Create Capture File: No Free Name for %s?.%s", date.c_str(), code.c_str()));
  return false;
}

bool CaptureFile::OpenCaptureFile(const std::string& satelliteName, SatelliteFamily family) {
  CloseCaptureFile();
  family_ = family;
  frameLength_ = FamilyFrameLength(family);
  PruneCaptureFiles(family, kCaptureFileLimit);
  ApplyFreeSpaceRule(family);
  finalName_.clear();
  temporaryName_.clear();
  if (!ChooseName(CaptureDatePart(context_.clock.Now().seconds), CaptureFileCode(satelliteName),
                  {})) {
    return false;
  }
  // Read and write: on a full disk the end marker looks back at the last block (EndCapture).
  fd_ = ::open(InDirectory(temporaryName_).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    context_.messages.Show(
        Format("Cannot Create Capture File %s: %s", temporaryName_.c_str(), std::strerror(errno)));
    return false;
  }
  size_ = 0;
  if (IsCadu()) {
    tally_ = {};
    const PassStart start{satelliteName, family, ElementSetOf(satelliteName),
                          context_.clock.Now().seconds};
    if (!passLog_.Open(InDirectory(PassRecordNameFor(temporaryName_) + std::string(kPartSuffix)),
                       start)) {
      // The CADUs matter more than their record: the pass is recorded without it.
      context_.messages.Show(
          Format("Cannot Create Pass Record for %s: %s", finalName_.c_str(), std::strerror(errno)));
    }
    return true;
  }
  WriteHeaderBlock(satelliteName);
  return true;
}

std::vector<std::string> CaptureFile::ElementSetOf(const std::string& satelliteName) const {
  LineReader reader(InDirectory(kElementsFile));
  while (auto line = reader.Next()) {
    *line = WithoutTrailingSpaces(std::move(*line));
    if (!EqualsIgnoreCase(*line, satelliteName)) continue;
    auto line1 = reader.Next();
    auto line2 = reader.Next();
    // A name without both element lines after it is no element set.
    if (!line1 || !line2) break;
    return {std::move(*line), std::move(*line1), std::move(*line2)};
  }
  return {};
}

void CaptureFile::WriteHeaderBlock(const std::string& satelliteName) {
  std::uint16_t* block = block_.get();
  std::fill(block, block + frameLength_, std::uint16_t{0});
  block[0] = kBlockFlag;
  block[1] = kBlockFlag;
  block[2] = kHeaderNotFound;
  if (const std::vector<std::string> set = ElementSetOf(satelliteName); !set.empty()) {
    block[2] = kHeaderFound;
    std::size_t word = 3;
    for (const std::string& text : set) {
      std::size_t n = std::min(text.size(), kHeaderLineLimit);
      for (std::size_t i = 0; i < n; ++i) block[word++] = HeaderWord(text[i]);
      block[word++] = 0;
    }
  }
  // A short header write is not reported: the first marker write meets the full disk.
  (void)WriteBlock(block);
}

bool CaptureFile::WriteBlock(const std::uint16_t* words) {
  if (fd_ < 0) return false;
  const std::size_t wanted = static_cast<std::size_t>(frameLength_) * sizeof(std::uint16_t);
  if constexpr (std::endian::native == std::endian::big) {
    for (std::int32_t i = 0; i < frameLength_; ++i) {
      swapped_[i] = static_cast<std::uint16_t>((words[i] << 8) | (words[i] >> 8));
    }
    words = swapped_.get();
  }
  return WriteBytes(reinterpret_cast<const char*>(words), wanted);
}

bool CaptureFile::WriteBytes(const char* data, std::size_t wanted) {
  if (fd_ < 0) return false;
  std::size_t allowed = context_.diskBudget != nullptr ? context_.diskBudget->Take(wanted) : wanted;
  std::size_t written = 0;
  while (written < allowed) {
    ssize_t n = ::write(fd_, data + written, allowed - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // ENOSPC, EDQUOT, EIO: the disk took what it could
    written += static_cast<std::size_t>(n);
  }
  if (written == wanted) {
    size_ += static_cast<std::int64_t>(wanted);
    return true;
  }
  // Cut the partial block off again: the file keeps whole blocks, so every frame and marker
  // before it stays readable.
  if (context_.diskBudget != nullptr) context_.diskBudget->Give(allowed);
  if (::ftruncate(fd_, static_cast<off_t>(size_)) == 0) {
    (void)::lseek(fd_, static_cast<off_t>(size_), SEEK_SET);
  }
  return false;
}

bool CaptureFile::WriteFrame(const std::uint16_t* frame) {
  if (!IsCadu()) return WriteBlock(frame);
  // The file gets the marker clean, as the field's tools search for it; the errors it came
  // with are the pass's bit-error estimate.
  tally_.markerBitErrors += CaduMarkerErrors(frame);
  for (std::size_t i = 0; i < cadu_.size(); ++i) {
    cadu_[i] = static_cast<char>(i < kCaduMarker.size() ? kCaduMarker[i] : frame[i] & 0xFF);
  }
  if (!WriteBytes(cadu_.data(), cadu_.size())) return false;
  tally_.cadus += 1;
  return true;
}

bool CaptureFile::WriteMarker(MarkerKind kind, std::uint16_t count) {
  return WriteMarkerAt(kind, count, context_.clock.Now().seconds);
}

bool CaptureFile::WriteMarkerAt(MarkerKind kind, std::uint16_t count, std::int64_t seconds) {
  if (IsCadu()) {
    // The record's log takes the events; the end is the record's own.
    if (fd_ < 0) return false;
    if (kind == MarkerKind::SyncLost) tally_.syncLosses += 1;
    if (kind != MarkerKind::EndOfCapture) {
      passLog_.Event(kind == MarkerKind::SyncLost ? "sync_lost" : "sync_acquired", count, seconds,
                     tally_);
    }
    return true;
  }
  std::uint16_t* block = block_.get();
  std::fill(block, block + frameLength_, std::uint16_t{0});
  // The block holds 32 bits of time, read back unsigned: the low 32 bits of a 64-bit time
  // stay exact until 2106-02-07, past 2038 too.
  SetMarkerWords(block, kind, count, static_cast<std::uint32_t>(seconds));
  return WriteBlock(block);
}

void CaptureFile::CloseCaptureFile() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  passLog_.Close();
}

bool CaptureFile::Rename() {
  const auto from = InDirectory(temporaryName_);
  const auto to = InDirectory(finalName_);
  // An empty file under the final name only holds the name: it gives way.
  struct stat info {};
  if (::stat(to.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0) {
    ::unlink(to.c_str());
  }
  // Never over a recording that appeared under the final name meanwhile.
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the no-replace rename: check, then rename.
  if (::access(to.c_str(), F_OK) == 0 || errno != ENOENT) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

void CaptureFile::FinishCaptureFile(bool framesWritten) {
  EndCapture(framesWritten, context_.clock.Now().seconds);
}

void CaptureFile::EndCapture(bool framesWritten, std::int64_t endSeconds, bool interrupted) {
  if (fd_ < 0) return;
  if (!WriteMarkerAt(MarkerKind::EndOfCapture, 0, endSeconds)) {
    context_.messages.Show("Out of Disk Space");
    (void)EndInPlaceOfLastFrame(endSeconds);
  }
  CloseCaptureFile();
  const auto temporaryPath = InDirectory(temporaryName_);
  const auto logPath = InDirectory(PassRecordNameFor(temporaryName_) + std::string(kPartSuffix));
  if (!framesWritten) {
    ::unlink(temporaryPath.c_str());
    if (IsCadu()) ::unlink(logPath.c_str());
    return;
  }
  if (IsCadu()) {
    // The record first: a capture under its final name always has its record beside it.
    const PassTally* tally = interrupted ? nullptr : &tally_;
    if (!FinishPassRecord(logPath, InDirectory(PassRecordNameFor(finalName_)), endSeconds,
                          size_ / kCaduBytes, tally, interrupted)) {
      context_.messages.Show(Format("Cannot Write Pass Record for %s", finalName_.c_str()));
    }
  }
  if (!Rename()) {
    // The recording is worth more than its name: it stays under the temporary one.
    context_.messages.Show(Format("Cannot Rename Capture File %s to %s: Kept as %s",
                                  temporaryName_.c_str(), finalName_.c_str(),
                                  temporaryName_.c_str()));
    return;
  }
  std::error_code error;
  std::filesystem::path full =
      std::filesystem::absolute(InDirectory(finalName_), error).lexically_normal();
  if (error) full = InDirectory(finalName_);
  const char* program = FactsOf(family_).postProcessor;
  // Whether the program started is not examined: it is outside the station.
  (void)context_.spawner.Spawn(InDirectory(program), {program, full.string()});
}

bool CaptureFile::EndInPlaceOfLastFrame(std::int64_t endSeconds) {
  const std::int64_t blockBytes = std::int64_t{frameLength_} * 2;
  // Header, first marker and two frames at least: the capture keeps a frame.
  if (IsCadu() || size_ < 4 * blockBytes) return false;
  if (FrameBlockAt(size_ - blockBytes) != true) return false;
  if (::ftruncate(fd_, static_cast<off_t>(size_ - blockBytes)) != 0 ||
      ::lseek(fd_, static_cast<off_t>(size_ - blockBytes), SEEK_SET) < 0) {
    return false;
  }
  size_ -= blockBytes;
  if (context_.diskBudget != nullptr)
    context_.diskBudget->Give(static_cast<std::size_t>(blockBytes));
  return WriteMarkerAt(MarkerKind::EndOfCapture, 0, endSeconds);
}

void CaptureFile::FinishLeftoverCaptures() {
  CloseCaptureFile();
  std::vector<std::string> leftovers;
  std::error_code error;
  std::filesystem::directory_iterator it(context_.workingDirectory, error);
  if (error) return;
  for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
    if (error) break;
    std::string name = it->path().filename().string();
    const bool hrpt =
        LooksLikeCaptureName(name) && name.substr(kDatePartLength + 2) == kTemporaryCode;
    const bool cadu = name.ends_with(kPartSuffix) &&
                      LooksLikeCaptureName(name.substr(0, name.size() - kPartSuffix.size())) &&
                      name.substr(0, name.size() - kPartSuffix.size()).ends_with(kCaduSuffix);
    if (hrpt || cadu) leftovers.push_back(std::move(name));
  }
  std::sort(leftovers.begin(), leftovers.end());
  for (const std::string& name : leftovers) {
    if (name.ends_with(kPartSuffix)) {
      FinishCaduLeftover(name);
    } else {
      FinishLeftover(name);
    }
  }
}

void CaptureFile::FinishCaduLeftover(const std::string& temporaryName) {
  const auto path = InDirectory(temporaryName);
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) return;
  // The log's first line names the satellite; without it, the code in the name says the family.
  const auto logPath = InDirectory(PassRecordNameFor(temporaryName) + std::string(kPartSuffix));
  const PassStart start = ReadPassStart(logPath);
  const std::string code = temporaryName.substr(kDatePartLength + 2, 3);
  family_ = start.satellite.empty() ? FamilyForFileCode(code) : start.family;
  frameLength_ = FamilyFrameLength(family_);
  // A CADU cut short by the crash is dropped: the file keeps whole CADUs only.
  size_ = info.st_size - info.st_size % kCaduBytes;
  if (!IsCadu() || ::ftruncate(fd_, static_cast<off_t>(size_)) != 0 ||
      ::lseek(fd_, static_cast<off_t>(size_), SEEK_SET) < 0 ||
      !ChooseName(temporaryName.substr(0, kDatePartLength), code, temporaryName)) {
    CloseCaptureFile();
    return;
  }
  temporaryName_ = temporaryName;
  // It ended when it was last written to.
  EndCapture(size_ > 0, static_cast<std::int64_t>(info.st_mtime), true);
}

void CaptureFile::FinishLeftover(const std::string& temporaryName) {
  const auto path = InDirectory(temporaryName);
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) return;
  // The header names the satellite, which fixes the block length, the code and the program.
  const std::string satellite = HeaderSatelliteName();
  family_ = FamilyForSatellite(satellite);
  frameLength_ = FamilyFrameLength(family_);
  const std::int64_t blockBytes = std::int64_t{frameLength_} * 2;
  // A block cut short by the crash is dropped: the file keeps whole blocks only.
  size_ = info.st_size - info.st_size % blockBytes;
  const bool framesWritten = HasFrameBlock(blockBytes);
  if (::ftruncate(fd_, static_cast<off_t>(size_)) != 0 ||
      ::lseek(fd_, static_cast<off_t>(size_), SEEK_SET) < 0) {
    CloseCaptureFile();
    return;
  }
  // Its date is the day it was opened, kept in the temporary name.
  if (!ChooseName(temporaryName.substr(0, kDatePartLength), CaptureFileCode(satellite),
                  temporaryName)) {
    CloseCaptureFile();
    return;
  }
  temporaryName_ = temporaryName;
  // It ended when it was last written to.
  EndCapture(framesWritten, static_cast<std::int64_t>(info.st_mtime));
}

std::string CaptureFile::HeaderSatelliteName() const {
  // The first block is at least a NOAA block long whatever the family; the name is near its
  // start.
  std::vector<std::uint8_t> bytes(std::size_t{kNoaaFrameWords} * 2);
  const ssize_t got = ::pread(fd_, bytes.data(), bytes.size(), 0);
  const std::size_t words = got > 0 ? static_cast<std::size_t>(got) / 2 : 0;
  auto word = [&](std::size_t i) {
    return static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  };
  std::string name;
  if (words < 3 || word(0) != kBlockFlag || word(1) != kBlockFlag || word(2) != kHeaderFound) {
    return name;
  }
  for (std::size_t i = 3; i < words && word(i) != 0 && name.size() < kHeaderLineLimit; ++i) {
    name.push_back(static_cast<char>(word(i) & 0xFF));
  }
  return WithoutTrailingSpaces(std::move(name));
}

std::optional<bool> CaptureFile::FrameBlockAt(std::int64_t offset) const {
  // Header and marker blocks have bit 15 of their first word set; a frame never does.
  std::uint8_t first[2] = {};
  if (::pread(fd_, first, sizeof first, static_cast<off_t>(offset)) != sizeof first) {
    return std::nullopt;
  }
  return (first[1] & 0x80) == 0;
}

bool CaptureFile::HasFrameBlock(std::int64_t blockBytes) const {
  for (std::int64_t offset = blockBytes; offset + blockBytes <= size_; offset += blockBytes) {
    const std::optional<bool> frame = FrameBlockAt(offset);
    if (!frame) break;
    if (*frame) return true;
  }
  return false;
}

}  // namespace halvik
