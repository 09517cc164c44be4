#include "dsp/Recording.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <volk/volk.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "platform/Files.h"

namespace halvik {

namespace {

using nlohmann::json;

constexpr std::string_view kMetaExtension = ".sigmf-meta";
constexpr std::string_view kDataExtension = ".sigmf-data";
// Metadata beyond this is not a recording's description (a data file given by mistake).
constexpr std::size_t kMaxMetaBytes = 1 << 20;
// The longest a read waits, so the caller can look at its stop flag.
constexpr std::int64_t kLongestWaitMs = 100;

std::string Quoted(const std::filesystem::path& path) {
  return path.string();
}

std::string SystemError() {
  return std::strerror(errno);
}

// Opens what a recording's path names without ever blocking (a FIFO without a writer would
// hold the caller for ever), then looks at what was opened, not at the name, so nothing can be
// swapped in between. -1 and the reason when it is not something to read samples from.
int OpenRecordingFile(const std::filesystem::path& path, bool endlessAllowed, struct stat& st,
                      std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = Quoted(path) + (errno == ENOENT ? ": missing" : ": cannot be opened") + " (" +
            SystemError() + ")";
    return -1;
  }
  if (::fstat(fd, &st) != 0) {
    error = Quoted(path) + ": " + SystemError();
  } else if (S_ISDIR(st.st_mode)) {
    error = Quoted(path) + ": a directory, not a recording";
  } else if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode)) {
    if (endlessAllowed) return fd;
    error = Quoted(path) + ": a FIFO or device, whose samples never end; a recording is needed";
  } else if (!S_ISREG(st.st_mode)) {
    error = Quoted(path) + ": not a regular file";
  } else {
    // Regular files are read blocking: their reads never wait on anyone.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) return fd;
    error = Quoted(path) + ": " + SystemError();
  }
  ::close(fd);
  return -1;
}

bool ReadWhole(int fd, std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::read(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteWhole(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool HasExtension(const std::filesystem::path& path, std::string_view extension) {
  return path.extension().string() == extension;
}

// The samples the metadata speaks of: the furthest capture start or annotation end.
std::int64_t DescribedSamples(const json& meta) {
  std::int64_t described = 0;
  auto furthest = [&](const char* list, bool withCount) {
    const auto it = meta.find(list);
    if (it == meta.end() || !it->is_array()) return;
    for (const json& entry : *it) {
      if (!entry.is_object()) continue;
      const auto start = entry.find("core:sample_start");
      if (start == entry.end() || !start->is_number_unsigned()) continue;
      std::int64_t end = start->get<std::int64_t>();
      const auto count = entry.find("core:sample_count");
      if (withCount && count != entry.end() && count->is_number_unsigned()) {
        end += count->get<std::int64_t>();
      }
      described = std::max(described, end);
    }
  };
  furthest("captures", false);
  furthest("annotations", true);
  return described;
}

// Reads the metadata into `info`; false and `error` when it says nothing usable.
bool ReadMetadata(const std::filesystem::path& path, RecordingInfo& info, std::int64_t& described,
                  std::string& error) {
  struct stat st {};
  const int fd = OpenRecordingFile(path, false, st, error);
  if (fd < 0) return false;
  const bool tooLarge = static_cast<std::size_t>(st.st_size) > kMaxMetaBytes;
  std::string text(tooLarge ? 0 : static_cast<std::size_t>(st.st_size), '\0');
  const bool read =
      !tooLarge && ReadWhole(fd, reinterpret_cast<std::uint8_t*>(text.data()), text.size());
  ::close(fd);
  if (!read) {
    error = Quoted(path) + (tooLarge ? ": too large for SigMF metadata" : ": unreadable");
    return false;
  }
  const json meta = json::parse(text, nullptr, false);
  const json* global = nullptr;
  if (!meta.is_discarded() && meta.is_object()) {
    const auto it = meta.find("global");
    if (it != meta.end() && it->is_object()) global = &*it;
  }
  if (!global) {
    error = Quoted(path) + ": not SigMF metadata (no \"global\" object)";
    return false;
  }
  const auto datatype = global->find("core:datatype");
  if (datatype == global->end() || !datatype->is_string()) {
    error = Quoted(path) + ": no core:datatype";
    return false;
  }
  const std::string name = datatype->get<std::string>();
  // Only SigMF's own names: "cs16" is the command line's, not a datatype.
  const std::optional<SampleFormat> format = ParseSampleFormat(name);
  if (!format || SigmfDatatype(*format) != name) {
    error = Quoted(path) + ": unknown datatype \"" + name + "\" (cf32_le, ci16_le, ci8 or cu8)";
    return false;
  }
  info.format = *format;
  const auto rate = global->find("core:sample_rate");
  if (rate != global->end() && rate->is_number()) info.sampleRate = rate->get<double>();
  const auto captures = meta.find("captures");
  if (captures != meta.end() && captures->is_array() && !captures->empty() &&
      captures->front().is_object()) {
    const auto frequency = captures->front().find("core:frequency");
    if (frequency != captures->front().end() && frequency->is_number()) {
      info.frequencyHz = frequency->get<double>();
    }
  }
  described = DescribedSamples(meta);
  return true;
}

std::string RateText(double hz) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f Hz", hz);
  return text;
}

std::string Iso8601(SystemTime t) {
  const std::time_t seconds = static_cast<std::time_t>(t.seconds);
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, t.milliseconds);
  return text;
}

}  // namespace

std::unique_ptr<RecordingSource> RecordingSource::Open(const RecordingRequest& request,
                                                       std::string& error) {
  RecordingInfo info;
  std::filesystem::path meta;
  const std::filesystem::path& path = request.path;
  if (HasExtension(path, kMetaExtension) || HasExtension(path, kDataExtension)) {
    meta = path;
    meta.replace_extension(kMetaExtension);
    info.dataPath = path;
    info.dataPath.replace_extension(kDataExtension);
  } else {
    std::filesystem::path named = path;
    named += kMetaExtension;
    std::error_code ignored;
    if (std::filesystem::exists(named, ignored)) {
      meta = named;
      info.dataPath = path;
      info.dataPath += kDataExtension;
    } else {
      info.dataPath = path;
    }
  }
  std::int64_t described = 0;
  info.sigmf = !meta.empty();
  if (info.sigmf && !ReadMetadata(meta, info, described, error)) return nullptr;
  if (request.format) info.format = *request.format;
  if (request.sampleRate) info.sampleRate = *request.sampleRate;
  if (!info.sigmf && (!request.format || !request.sampleRate)) {
    error = Quoted(path) + ": a raw IQ recording needs its sample format and rate";
    return nullptr;
  }
  if (!(info.sampleRate >= kMinRecordingRate && info.sampleRate <= kMaxRecordingRate)) {
    error = Quoted(info.sigmf ? meta : path) + ": sample rate " + RateText(info.sampleRate) +
            " outside " + RateText(kMinRecordingRate) + " .. " + RateText(kMaxRecordingRate);
    return nullptr;
  }
  struct stat st {};
  const int fd = OpenRecordingFile(info.dataPath, request.endlessAllowed, st, error);
  if (fd < 0) return nullptr;
  if (S_ISREG(st.st_mode)) {
    const std::size_t bytesPerSample = BytesPerSample(info.format);
    const std::int64_t whole = st.st_size / static_cast<std::int64_t>(bytesPerSample);
    info.trailingBytes = static_cast<std::size_t>(st.st_size) % bytesPerSample;
    info.samples = whole;
    if (described > whole) {
      error = Quoted(info.dataPath) + ": truncated: the metadata describes " +
              std::to_string(described) + " samples, the data holds " + std::to_string(whole);
    } else if (whole == 0) {
      error = Quoted(info.dataPath) + ": no whole sample in it";
    }
    if (!error.empty()) {
      ::close(fd);
      return nullptr;
    }
  }
  return std::unique_ptr<RecordingSource>(new RecordingSource(std::move(info), fd));
}

RecordingSource::~RecordingSource() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t RecordingSource::PacedLimit(std::size_t wanted) {
  if (!pace_) return wanted;
  auto due = [&] {
    const double elapsedMs = static_cast<double>(pace_->MonotonicMs() - *paceStartMs_);
    return static_cast<std::int64_t>(elapsedMs * info_.sampleRate / 1000.0) - position_;
  };
  if (!paceStartMs_) paceStartMs_ = pace_->MonotonicMs();
  std::int64_t ready = due();
  if (ready <= 0) {
    const double elapsedMs = static_cast<double>(pace_->MonotonicMs() - *paceStartMs_);
    const double nextMs = static_cast<double>(position_ + 1) * 1000.0 / info_.sampleRate;
    pace_->SleepMs(std::clamp<std::int64_t>(
        static_cast<std::int64_t>(std::ceil(nextMs - elapsedMs)), 1, kLongestWaitMs));
    ready = due();
  }
  return static_cast<std::size_t>(std::clamp<std::int64_t>(ready, 0, std::int64_t(wanted)));
}

SampleRead RecordingSource::Read(std::span<Sample> out, std::size_t& count) {
  count = 0;
  if (!error_.empty()) return SampleRead::Failed;
  const std::size_t bytesPerSample = BytesPerSample(info_.format);
  std::size_t wanted = out.size();
  if (info_.samples) {
    const std::int64_t left = *info_.samples - position_;
    if (left <= 0) return SampleRead::End;
    wanted = static_cast<std::size_t>(std::min<std::int64_t>(left, std::int64_t(wanted)));
  }
  wanted = PacedLimit(wanted);
  if (wanted == 0) return SampleRead::NoData;

  if (info_.samples) {
    bytes_.resize(wanted * bytesPerSample);
    if (!ReadWhole(fd_, bytes_.data(), bytes_.size())) {
      error_ = Quoted(info_.dataPath) + ": ended early at sample " + std::to_string(position_) +
               " (" + (errno ? SystemError() : std::string("shorter than it was")) + ")";
      return SampleRead::Failed;
    }
    count = wanted;
  } else {
    // A stream: whatever is there within the wait, a partial sample kept for the next read.
    bytes_.resize(wanted * bytesPerSample);
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(kLongestWaitMs)) <= 0) return SampleRead::NoData;
    const ssize_t n = ::read(fd_, bytes_.data() + carried_, bytes_.size() - carried_);
    if (n == 0) return SampleRead::End;
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) return SampleRead::NoData;
      error_ = Quoted(info_.dataPath) + ": " + SystemError();
      return SampleRead::Failed;
    }
    const std::size_t have = carried_ + static_cast<std::size_t>(n);
    count = have / bytesPerSample;
    carried_ = have % bytesPerSample;
    if (count == 0) return SampleRead::NoData;
  }
  ConvertSamples(info_.format, bytes_, out.first(count));
  if (carried_ > 0) {
    std::memmove(bytes_.data(), bytes_.data() + count * bytesPerSample, carried_);
  }
  position_ += static_cast<std::int64_t>(count);
  return SampleRead::Data;
}

std::string SigmfMetadata(const SigmfDescription& description, std::int64_t samples) {
  json global = {{"core:datatype", SigmfDatatype(description.format)},
                 {"core:sample_rate", description.sampleRate},
                 {"core:version", "1.0.0"},
                 {"core:recorder", "halvik"}};
  if (!description.hardware.empty()) global["core:hw"] = description.hardware;
  if (!description.description.empty()) global["core:description"] = description.description;
  json capture = {{"core:sample_start", 0}, {"core:datetime", Iso8601(description.firstSample)}};
  if (description.frequencyHz) capture["core:frequency"] = *description.frequencyHz;
  // One annotation over the whole recording says how long it is, so a data file cut short
  // later is found out rather than read as a shorter pass.
  json annotation = {{"core:sample_start", 0}, {"core:sample_count", samples}};
  const json meta = {{"global", global},
                     {"captures", json::array({capture})},
                     {"annotations", json::array({annotation})}};
  return meta.dump(2) + "\n";
}

bool PartFile::Open(const std::filesystem::path& name, std::string& error) {
  Abandon();
  name_ = name;
  part_ = name;
  part_ += ".part";
  error_.clear();
  fd_ = ::open(part_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) error = Quoted(part_) + ": " + SystemError();
  return fd_ >= 0;
}

bool PartFile::Write(std::span<const std::uint8_t> bytes) {
  if (fd_ < 0 || !error_.empty()) return false;
  if (!WriteWhole(fd_, bytes.data(), bytes.size())) error_ = Quoted(part_) + ": " + SystemError();
  return error_.empty();
}

bool PartFile::Commit(std::string& error) {
  if (fd_ < 0) {
    error = "nothing open to write";
    return false;
  }
  if (error_.empty() && ::fsync(fd_) != 0) error_ = Quoted(part_) + ": " + SystemError();
  if (::close(fd_) != 0 && error_.empty()) error_ = Quoted(part_) + ": " + SystemError();
  fd_ = -1;
  if (error_.empty() && ::rename(part_.c_str(), name_.c_str()) != 0) {
    error_ = Quoted(name_) + ": " + SystemError();
  }
  if (error_.empty()) return true;
  error = error_;
  ::unlink(part_.c_str());
  return false;
}

void PartFile::Abandon() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  ::unlink(part_.c_str());
}

bool SigmfWriter::Open(const std::filesystem::path& base, const SigmfDescription& description,
                       std::string& error) {
  base_ = base;
  description_ = description;
  samples_ = 0;
  std::filesystem::path data = base;
  data += kDataExtension;
  return data_.Open(data, error);
}

bool SigmfWriter::Write(std::span<const Sample> samples) {
  if (!data_.open()) return false;
  ToFormat(description_.format, samples, buffer_);
  return WriteBytes(buffer_);
}

bool SigmfWriter::WriteBytes(std::span<const std::uint8_t> bytes) {
  const std::size_t bytesPerSample = BytesPerSample(description_.format);
  const std::size_t whole = bytes.size() / bytesPerSample * bytesPerSample;
  if (!data_.Write(bytes.first(whole))) return false;
  samples_ += static_cast<std::int64_t>(whole / bytesPerSample);
  return true;
}

bool SigmfWriter::Finish(std::string& error) {
  std::filesystem::path data = base_;
  data += kDataExtension;
  std::filesystem::path meta = base_;
  meta += kMetaExtension;
  if (!data_.Commit(error)) return false;
  if (!WriteFileAtomically(meta, SigmfMetadata(description_, samples_))) {
    error = Quoted(meta) + ": cannot be written";
    ::unlink(data.c_str());
    return false;
  }
  return true;
}

}  // namespace halvik
