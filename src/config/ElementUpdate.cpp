#include "config/ElementUpdate.h"

#include <fstream>
#include <iterator>
#include <optional>

#include "config/StationFileNames.h"
#include "orbit/ElementSet.h"
#include "orbit/PropagateListing.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace halvik {
namespace {

constexpr std::size_t kMaxNameLength = kNameCapacity - 1;
// Columns 3 to 7 of the first element line: the catalogue number.
constexpr std::size_t kCatalogueColumn = 2;
constexpr std::size_t kCatalogueWidth = 5;

// One line of elements.dat: a whole entry (name line and the two element lines) or a line
// that belongs to none, kept as it was.
struct FileItem {
  std::string nameLine;
  std::string line1;
  std::string line2;
  bool entry = false;
};

struct SourceSet {
  std::string name;
  std::string line1;
  std::string line2;
  double epochMinutes = 0;
};

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool IsElementLine(const std::string& line, char number) {
  return line.size() >= 2 && line[0] == number && line[1] == ' ';
}

bool StartsSet(const std::vector<std::string>& lines, std::size_t i) {
  return i + 1 < lines.size() && IsElementLine(lines[i], '1') && IsElementLine(lines[i + 1], '2');
}

// A name line as the station's lookup compares it: trailing blanks removed.
std::string NameOf(std::string_view line) {
  std::size_t end = line.find_last_not_of(' ');
  return std::string(end == std::string_view::npos ? std::string_view() : line.substr(0, end + 1));
}

// A source's name line: some sources mark name lines with a leading "0 ", which the station's
// lookup would take as part of the name.
std::string SourceNameOf(std::string_view line) {
  std::string name = NameOf(line);
  return name.size() > 2 && name[0] == '0' && name[1] == ' ' ? name.substr(2) : name;
}

std::string CatalogueNumber(const std::string& line1) {
  return line1.size() >= kCatalogueColumn + kCatalogueWidth
             ? line1.substr(kCatalogueColumn, kCatalogueWidth)
             : std::string();
}

// The set's epoch in minutes since 1970 when the station's parse takes it; else its message.
std::optional<double> ParsedEpoch(const std::string& name, const std::string& line1,
                                  const std::string& line2, std::string& error) {
  const ParsedSatellite parsed = ParseElementSet(name, line1, line2);
  if (!parsed.ok()) {
    error = ElementSetMessage(parsed.code);
    return std::nullopt;
  }
  return parsed.elements.epochMinutes;
}

std::vector<FileItem> ReadItems(const std::vector<std::string>& lines) {
  std::vector<FileItem> items;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (StartsSet(lines, i + 1)) {
      items.push_back({lines[i], lines[i + 1], lines[i + 2], true});
      i += 2;
    } else {
      items.push_back({lines[i], {}, {}, false});
    }
  }
  return items;
}

// The entry the station would read for `name`: the first one of that name.
FileItem* FindEntry(std::vector<FileItem>& items, std::string_view name) {
  for (FileItem& item : items) {
    if (item.entry && EqualsIgnoreCase(NameOf(item.nameLine), name)) return &item;
  }
  return nullptr;
}

std::string EpochText(double epochMinutes) {
  return FormatIsoUtc(epochMinutes * 60.0);
}

std::string ReadWholeFile(const std::filesystem::path& path, bool& found) {
  std::ifstream in(path, std::ios::binary);
  found = in.is_open();
  return found ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string();
}

ElementUpdateResult Refuse(ElementUpdateResult result, const std::string& reason) {
  result.refused = true;
  result.changed = false;
  result.report.push_back("refused, nothing changed: " + reason);
  return result;
}

}  // namespace

ElementUpdateResult UpdateElementFile(const std::filesystem::path& dir,
                                      std::string_view sourceText) {
  ElementUpdateResult result;
  bool elementsFound = false;
  const std::string oldText = ReadWholeFile(dir / kElementsFile, elementsFound);
  std::vector<FileItem> items = ReadItems(SplitLines(oldText));

  // --- the source's sets, each through the station's own parse ---
  std::vector<SourceSet> sets;
  std::size_t strayLines = 0;
  const std::vector<std::string> lines = SplitLines(sourceText);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string name;
    std::size_t first = i;
    if (StartsSet(lines, i)) {
      // A set without a name line: known only by its catalogue number.
      std::string number = CatalogueNumber(lines[i]);
      for (const FileItem& item : items) {
        if (item.entry && CatalogueNumber(item.line1) == number) {
          name = NameOf(item.nameLine);
          break;
        }
      }
      if (name.empty()) {
        result.report.push_back("skipped catalogue number " + number +
                                ": no name line, and elements.dat has no set of that number");
        ++i;
        continue;
      }
    } else if (StartsSet(lines, i + 1)) {
      name = SourceNameOf(lines[i]);
      first = i + 1;
    } else {
      if (lines[i].find_first_not_of(' ') != std::string::npos) ++strayLines;
      continue;
    }
    i = first + 1;
    if (name.size() > kMaxNameLength) {
      result.report.push_back("skipped " + name + ": name longer than 23 characters");
      continue;
    }
    std::string error;
    std::optional<double> epoch = ParsedEpoch(name, lines[first], lines[first + 1], error);
    if (!epoch) {
      result.report.push_back("skipped " + name + ": " + error);
      continue;
    }
    sets.push_back({name, lines[first], lines[first + 1], *epoch});
  }
  if (strayLines > 0) {
    result.report.push_back(
        Format("skipped %zu line(s) that belong to no element set", strayLines));
  }
  if (sets.empty()) return Refuse(result, "the source holds no valid element set");

  // --- the merge: newer epochs replace, new names are added, the rest stays ---
  std::size_t notNewer = 0;
  for (const SourceSet& set : sets) {
    FileItem* entry = FindEntry(items, set.name);
    if (!entry) {
      items.push_back({set.name, set.line1, set.line2, true});
      result.report.push_back("added " + set.name + " (epoch " + EpochText(set.epochMinutes) + ")");
      result.changed = true;
      continue;
    }
    std::string error;
    std::optional<double> current =
        ParsedEpoch(NameOf(entry->nameLine), entry->line1, entry->line2, error);
    if (current && *current >= set.epochMinutes) {
      ++notNewer;
      continue;
    }
    entry->line1 = set.line1;
    entry->line2 = set.line2;
    result.report.push_back("updated " + NameOf(entry->nameLine) + ": epoch " +
                            (current ? EpochText(*current) : "unreadable") + " -> " +
                            EpochText(set.epochMinutes));
    result.changed = true;
  }
  if (notNewer > 0) {
    result.report.push_back(
        Format("%zu set(s) no newer than those in elements.dat left as they were", notNewer));
  }

  // --- every satellite the station flies keeps a set it can load ---
  LineReader sats(dir / kSatellitesFile);
  for (int slot = 0; sats.ok() && slot < kSlotCount; ++slot) {
    std::optional<std::string> line = sats.Next();
    if (!line) break;
    if (line->empty() || line->front() == ' ') continue;
    FileItem* entry = FindEntry(items, *line);
    std::string error;
    if (!entry || !ParsedEpoch(*line, entry->line1, entry->line2, error)) {
      return Refuse(result, "sats.dat lists " + *line + ", which would have no valid element set");
    }
  }

  if (!result.changed) {
    result.report.push_back("elements.dat is up to date");
    return result;
  }
  std::string text;
  for (const FileItem& item : items) {
    text += item.nameLine + "\n";
    if (item.entry) text += item.line1 + "\n" + item.line2 + "\n";
  }
  if (elementsFound && !WriteFileAtomically(dir / kOldElementsFile, oldText)) {
    return Refuse(result, "cannot write " + (dir / kOldElementsFile).string());
  }
  if (!WriteFileAtomically(dir / kElementsFile, text)) {
    return Refuse(result, "cannot write " + (dir / kElementsFile).string());
  }
  if (elementsFound) result.report.push_back("previous file kept as elements.dat.old");
  return result;
}

int ReloadElementSets(ConfigContext& context) {
  const std::filesystem::path elements = context.dir / kElementsFile;
  if (!LineReader(elements).ok()) {
    context.messages.Show(ElementSetMessage(ElementSetResult::FileMissing));
    return 0;
  }
  int reloaded = 0;
  for (SatelliteRecord& slot : context.table) {
    if (!slot.IsActive()) continue;
    // A set that fails must not empty the slot that flies the old one.
    const ParsedSatellite parsed = FindElementSet(elements, slot.name.Get());
    if (!parsed.ok()) {
      context.messages.Show(ElementSetMessage(parsed.code));
      continue;
    }
    if (parsed.elements.epochMinutes == slot.epochMinutes.load()) continue;
    slot.Install(parsed.name, parsed.elements);
    ++reloaded;
  }
  return reloaded;
}

}  // namespace halvik
