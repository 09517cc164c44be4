#include "config/ElementUpdate.h"

#include <fstream>
#include <iterator>
#include <map>
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

// `text` as it may reach a terminal: bytes outside printable ASCII written as \xHH.
std::string Printable(std::string_view text) {
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
      out += c;
    } else {
      out += Format("\\x%02x", byte);
    }
  }
  return out;
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

// The entries of elements.dat by name (ASCII case folded) and by catalogue number: the first of
// each, as the station's lookup finds them. Indexes into the items, which only grow.
struct EntryIndex {
  std::map<std::string, std::size_t> byName;
  std::map<std::string, std::size_t> byNumber;

  static std::string Folded(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return folded;
  }
  void Add(const std::vector<FileItem>& items, std::size_t i) {
    byName.emplace(Folded(NameOf(items[i].nameLine)), i);
    byNumber.emplace(CatalogueNumber(items[i].line1), i);
  }
  // The entry of `name`, or else of the catalogue number of `line1`; npos when neither.
  std::size_t Find(std::string_view name, const std::string& line1) const {
    if (auto found = byName.find(Folded(name)); found != byName.end()) return found->second;
    if (auto found = byNumber.find(CatalogueNumber(line1)); found != byNumber.end())
      return found->second;
    return std::string::npos;
  }
};

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
  EntryIndex index;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].entry) index.Add(items, i);
  }

  // --- the source's sets, each through the station's own parse ---
  std::vector<SourceSet> sets;
  std::map<std::string, std::size_t> byNumber;  // index in `sets`
  std::size_t repeated = 0;
  std::size_t strayLines = 0;
  const std::vector<std::string> lines = SplitLines(sourceText);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string name;
    std::size_t first = i;
    if (StartsSet(lines, i)) {
      // A set without a name line: known only by its catalogue number.
      std::string number = CatalogueNumber(lines[i]);
      if (auto known = index.byNumber.find(number); known != index.byNumber.end()) {
        name = NameOf(items[known->second].nameLine);
      }
      if (name.empty()) {
        result.report.push_back("skipped catalogue number " + Printable(number) +
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
      result.report.push_back("skipped " + Printable(name) + ": name longer than 23 characters");
      continue;
    }
    std::string error;
    std::optional<double> epoch = ParsedEpoch(name, lines[first], lines[first + 1], error);
    if (!epoch) {
      result.report.push_back("skipped " + Printable(name) + ": " + error);
      continue;
    }
    // One set per catalogue number, the newest: a source that repeats a satellite does not
    // grow the file.
    const std::string number = CatalogueNumber(lines[first]);
    const auto [at, fresh] = byNumber.emplace(number, sets.size());
    if (!fresh) {
      ++repeated;
      if (sets[at->second].epochMinutes < *epoch) {
        sets[at->second] = {name, lines[first], lines[first + 1], *epoch};
      }
      continue;
    }
    sets.push_back({name, lines[first], lines[first + 1], *epoch});
  }
  if (repeated > 0) {
    result.report.push_back(
        Format("%zu set(s) of a catalogue number given more than once: the newest kept", repeated));
  }
  if (strayLines > 0) {
    result.report.push_back(
        Format("skipped %zu line(s) that belong to no element set", strayLines));
  }
  if (sets.empty()) return Refuse(result, "the source holds no valid element set");

  // --- the merge: newer epochs replace, new names are added, the rest stays ---
  std::size_t notNewer = 0;
  for (const SourceSet& set : sets) {
    // A satellite elements.dat knows under another name keeps that name: sats.dat uses it.
    const std::size_t found = index.Find(set.name, set.line1);
    if (found == std::string::npos) {
      items.push_back({set.name, set.line1, set.line2, true});
      index.Add(items, items.size() - 1);
      result.report.push_back("added " + Printable(set.name) + " (epoch " +
                              EpochText(set.epochMinutes) + ")");
      result.changed = true;
      continue;
    }
    FileItem* entry = &items[found];
    std::string error;
    std::optional<double> current =
        ParsedEpoch(NameOf(entry->nameLine), entry->line1, entry->line2, error);
    if (current && *current >= set.epochMinutes) {
      ++notNewer;
      continue;
    }
    entry->line1 = set.line1;
    entry->line2 = set.line2;
    result.report.push_back("updated " + Printable(NameOf(entry->nameLine)) + ": epoch " +
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
      return Refuse(
          result, "sats.dat lists " + Printable(*line) + ", which would have no valid element set");
    }
  }
  std::size_t entries = 0;
  for (const FileItem& item : items) entries += item.entry;
  if (entries > kMaxElementSets) {
    return Refuse(result, Format("elements.dat would hold %zu element sets, more than %zu", entries,
                                 kMaxElementSets));
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
