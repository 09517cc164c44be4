#include "capture/CaptureFileReader.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <ostream>

#include "capture/BitFrame.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace halvik {
namespace {

bool IsHeaderCharacter(std::uint16_t word) {
  // A byte sign-extended to 16 bits, never the 0 that ends a line.
  return (word >= 0x0001 && word <= 0x007F) || word >= 0xFF80;
}

bool AllZero(const std::uint16_t* words, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i) {
    if (words[i] != 0) return false;
  }
  return true;
}

bool ParseHeader(const std::uint16_t* block, std::size_t words, CaptureHeader& header) {
  if (block[0] != kBlockFlag || block[1] != kBlockFlag) return false;
  if (block[2] == kHeaderNotFound) {
    header = {};
    return AllZero(block, 3, words);
  }
  if (block[2] != kHeaderFound) return false;
  header.found = true;
  std::size_t word = 3;
  for (std::string* text : {&header.nameLine, &header.line1, &header.line2}) {
    text->clear();
    while (word < words && IsHeaderCharacter(block[word])) {
      text->push_back(static_cast<char>(block[word] & 0xFF));
      ++word;
    }
    if (word >= words || block[word] != 0) return false;
    ++word;
  }
  return AllZero(block, word, words);
}

const char* MarkerName(MarkerKind kind) {
  switch (kind) {
    case MarkerKind::SyncAcquired:
      return "sync-acquired";
    case MarkerKind::SyncLost:
      return "sync-lost";
    case MarkerKind::EndOfCapture:
      break;
  }
  return "end";
}

std::string UtcText(std::uint32_t seconds) {
  return IsoUtcSeconds(seconds);
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// What may come next, by the last block read.
enum class After { Header, SyncAcquired, SyncLost, Frame, End };

CaptureReadResult Parse(std::FILE* file, std::uint64_t size, std::int32_t blockWords) {
  CaptureReadResult result;
  result.opened = true;
  CaptureFileContents& contents = result.contents;
  contents.blockWords = blockWords;
  contents.bytes = size;
  const std::size_t words = static_cast<std::size_t>(blockWords);
  const std::size_t blockBytes = words * 2;
  std::vector<std::uint8_t> raw(blockBytes);
  std::vector<std::uint16_t> block(words);
  auto fail = [&](std::uint64_t offset, std::string text) {
    result.ok = false;
    result.errorOffset = offset;
    result.error = std::move(text);
    return result;
  };
  std::rewind(file);
  After after = After::Header;
  CaptureFrameRun run;
  auto flushRun = [&] {
    if (run.frames > 0) contents.entries.emplace_back(run);
    run = {};
  };
  std::uint64_t offset = 0;
  for (;; offset += blockBytes) {
    std::size_t got = std::fread(raw.data(), 1, blockBytes, file);
    if (got == 0) break;
    if (got < blockBytes) {
      flushRun();
      return fail(offset, Format("truncated block at offset %llu: %zu of %zu bytes",
                                 static_cast<unsigned long long>(offset), got, blockBytes));
    }
    for (std::size_t i = 0; i < words; ++i) {
      block[i] = static_cast<std::uint16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
    }
    const auto at = static_cast<unsigned long long>(offset);
    if (offset == 0) {
      if (!ParseHeader(block.data(), words, contents.header)) {
        return fail(offset, Format("malformed header block at offset %llu", at));
      }
      continue;
    }
    if (after == After::End) {
      flushRun();
      return fail(offset, Format("block after the end marker at offset %llu", at));
    }
    if ((block[0] & kBlockFlag) == 0) {
      // Frames are recorded only after the sync has been acquired.
      if (after != After::SyncAcquired && after != After::Frame) {
        flushRun();
        return fail(offset, Format("frame block without a sync-acquired marker before it at "
                                   "offset %llu",
                                   at));
      }
      run.frames += 1;
      if (HasFrameSync(block.data())) run.withSync += 1;
      contents.totalFrames += 1;
      after = After::Frame;
      continue;
    }
    flushRun();
    const std::uint16_t kind = MarkerKindWord(block.data());
    if (block[0] != kBlockFlag ||
        (kind != static_cast<std::uint16_t>(MarkerKind::SyncAcquired) &&
         kind != static_cast<std::uint16_t>(MarkerKind::SyncLost) &&
         kind != static_cast<std::uint16_t>(MarkerKind::EndOfCapture)) ||
        !AllZero(block.data(), kMarkerBlockUsedWords, words)) {
      return fail(offset, Format("malformed marker block at offset %llu (words 0x%04X 0x%04X)", at,
                                 block[0], block[1]));
    }
    CaptureMarker marker;
    marker.kind = static_cast<MarkerKind>(kind);
    marker.count = MarkerCount(block.data());
    marker.time = MarkerSeconds(block.data());
    contents.entries.emplace_back(marker);
    after = marker.kind == MarkerKind::SyncAcquired ? After::SyncAcquired
            : marker.kind == MarkerKind::SyncLost   ? After::SyncLost
                                                    : After::End;
  }
  if (offset == 0) return fail(0, "empty file: no header block at offset 0");
  flushRun();
  result.ok = true;
  return result;
}

}  // namespace

std::int32_t BlockWordsForName(std::string_view fileName) {
  std::size_t dot = fileName.rfind('.');
  std::string_view code = dot == std::string_view::npos ? "" : fileName.substr(dot + 1);
  if (EqualsIgnoreCase(code, "tmp")) return 0;
  return FamilyFrameLength(FamilyForFileCode(code));
}

CaptureReadResult ReadCaptureFile(const std::filesystem::path& path, std::int32_t blockWords) {
  const UniqueFile file = OpenRegularFile(path);
  if (!file) {
    CaptureReadResult result;
    result.error = "cannot open the file";
    return result;
  }
  std::error_code error;
  std::uint64_t size = std::filesystem::file_size(path, error);
  if (error) size = 0;
  if (blockWords != 0) return Parse(file.get(), size, blockWords);
  // A temporary file does not say its family: keep the block length that makes sense of it,
  // or, when neither does, the one that got further.
  CaptureReadResult shortBlocks = Parse(file.get(), size, kNoaaFrameWords);
  if (shortBlocks.ok) return shortBlocks;
  CaptureReadResult longBlocks = Parse(file.get(), size, kLongestFrameWords);
  if (longBlocks.ok) return longBlocks;
  return longBlocks.errorOffset > shortBlocks.errorOffset ? longBlocks : shortBlocks;
}

CaptureReadResult ReadCaptureFile(const std::filesystem::path& path) {
  return ReadCaptureFile(path, BlockWordsForName(path.filename().string()));
}

std::vector<std::string> InspectionLines(const CaptureFileContents& contents, bool withTotal) {
  std::vector<std::string> lines;
  const CaptureHeader& header = contents.header;
  lines.push_back(header.found ? "header found " + Quoted(header.nameLine) + " " +
                                     Quoted(header.line1) + " " + Quoted(header.line2)
                               : "header not-found");
  for (const CaptureEntry& entry : contents.entries) {
    if (const auto* marker = std::get_if<CaptureMarker>(&entry)) {
      lines.push_back(Format("marker %s %u %s", MarkerName(marker->kind),
                             static_cast<unsigned>(marker->count), UtcText(marker->time).c_str()));
    } else {
      const auto& run = std::get<CaptureFrameRun>(entry);
      lines.push_back(Format("frames %lld sync %lld", static_cast<long long>(run.frames),
                             static_cast<long long>(run.withSync)));
    }
  }
  if (withTotal) {
    lines.push_back(Format("total frames %lld bytes %llu",
                           static_cast<long long>(contents.totalFrames),
                           static_cast<unsigned long long>(contents.bytes)));
  }
  return lines;
}

int InspectCaptureFile(const std::filesystem::path& path, std::ostream& out, std::ostream& err) {
  const std::string name = path.filename().string();
  if (name.ends_with(kCaduSuffix) ||
      name.ends_with(std::string(kCaduSuffix) + std::string(kPartSuffix)))
    return InspectCaduFile(path, out, err);
  CaptureReadResult result = ReadCaptureFile(path);
  if (!result.opened) {
    err << "halvik inspect: " << path.string() << ": cannot open the file\n";
    return 2;
  }
  // A faulty file still shows what came before the fault.
  bool anything = result.ok || result.errorOffset > 0;
  if (anything) {
    for (const std::string& line : InspectionLines(result.contents, result.ok)) out << line << '\n';
  }
  if (!result.ok) {
    err << "halvik inspect: " << path.string() << ": " << result.error << '\n';
    return 2;
  }
  return 0;
}

}  // namespace halvik
