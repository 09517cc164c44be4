#include "orbit/SatelliteTable.h"

#include <bit>
#include <utility>

#include "platform/Text.h"

namespace halvik {
namespace {

using ElementWords = std::array<double, sizeof(ElementSet) / sizeof(double)>;
static_assert(sizeof(ElementWords) == sizeof(ElementSet));

}  // namespace

ElementSet SatelliteRecord::Elements() const {
  ElementSet e;
  CopyElements(*this, e);
  return e;
}

void SatelliteRecord::Clear() {
  active.store(0, std::memory_order_release);
  name.Clear();
  aosTime = 0;
  losTime = 0;
  aosPending = 0;
  inPass = 0;
  geosynchronous = 0;
  latitudeDeg = 0;
  longitudeDeg = 0;
  azimuthDeg = 0.0;
  elevationDeg = 0.0;
}

void SatelliteRecord::Install(std::string_view satelliteName, const ElementSet& elements) {
  Clear();
  CopyElements(elements, *this);
  name.Set(satelliteName);
  active.store(1, std::memory_order_release);
}

void SatelliteRecord::Empty() {
  active.store(0, std::memory_order_release);
  aosPending = 0;
  inPass = 0;
  aosTime = 0;
  losTime = 0;
}

namespace {

void StoreName(std::array<std::atomic<char>, kNameCapacity>& to, std::string_view name) {
  const std::string_view kept = name.substr(0, kNameCapacity - 1);
  for (std::size_t i = 0; i < kNameCapacity; ++i) {
    to[i].store(i < kept.size() ? kept[i] : '\0', std::memory_order_release);
  }
}

}  // namespace

std::string SlotUpdate::Read(const std::array<std::atomic<char>, kNameCapacity>& text) {
  std::string name;
  for (const auto& ch : text) {
    const char c = ch.load(std::memory_order_acquire);
    if (c == '\0') break;
    name.push_back(c);
  }
  return name;
}

void SlotUpdate::Post(std::int32_t load, std::string_view name, const ElementSet& elements,
                      std::string_view replacing) {
  const std::uint32_t sequence = sequence_.load(std::memory_order_relaxed);
  sequence_.store(sequence + 1, std::memory_order_relaxed);
  // Release: whoever reads one of these values sees the odd sequence number too.
  load_.store(load, std::memory_order_release);
  StoreName(name_, name);
  StoreName(replacing_, replacing);
  const auto words = std::bit_cast<ElementWords>(elements);
  for (std::size_t i = 0; i < words.size(); ++i) {
    elements_[i].store(words[i], std::memory_order_release);
  }
  sequence_.store(sequence + 2, std::memory_order_release);
}

std::string SlotUpdate::PendingName() const {
  return Read(name_);
}

bool SlotUpdate::Pending() const {
  return sequence_.load(std::memory_order_relaxed) != installed_.load(std::memory_order_acquire);
}

std::optional<SlotLoad> TakeSlotUpdate(SatelliteRecord& slot) {
  SlotUpdate& update = slot.update;
  if (update.passReset_.exchange(0, std::memory_order_acq_rel) != 0) slot.ResetPass();

  const std::uint32_t sequence = update.sequence_.load(std::memory_order_acquire);
  if (sequence == update.installed_.load(std::memory_order_relaxed) || sequence % 2 != 0) {
    return std::nullopt;
  }
  const bool load = update.load_.load(std::memory_order_acquire) != 0;
  SlotLoad request{update.PendingName(), {}, SlotUpdate::Read(update.replacing_)};
  ElementWords words;
  for (std::size_t i = 0; i < words.size(); ++i) {
    words[i] = update.elements_[i].load(std::memory_order_acquire);
  }
  request.elements = std::bit_cast<ElementSet>(words);
  // Rewritten while it was read: the whole new request comes at the next step.
  if (update.sequence_.load(std::memory_order_relaxed) != sequence) return std::nullopt;

  if (load) {
    request.sequence = sequence;
    return request;
  }
  slot.Empty();
  update.installed_.store(sequence, std::memory_order_release);
  return std::nullopt;
}

namespace {

bool ListedElsewhere(const SatelliteTable& table, const SatelliteRecord& into,
                     std::string_view name) {
  for (const SatelliteRecord& slot : table) {
    if (&slot != &into && slot.IsActive() && EqualsIgnoreCase(slot.name.Get(), name)) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> InstallSlotUpdates(SatelliteTable& table) {
  // The emptyings first, so that a satellite deleted from one slot and added to another is no
  // duplicate of itself.
  std::vector<std::pair<SatelliteRecord*, SlotLoad>> loads;
  for (SatelliteRecord& slot : table) {
    if (auto load = TakeSlotUpdate(slot)) loads.emplace_back(&slot, std::move(*load));
  }
  std::vector<std::string> refused;
  std::vector<std::pair<SatelliteRecord*, SlotLoad>> displaced;
  for (auto& [slot, load] : loads) {
    if (slot->IsActive() && !EqualsIgnoreCase(slot->name.Get(), load.replacing)) {
      // Asked for while the slot looked different: it now holds a satellite the asker never
      // saw (one sats.dat listed, loaded after the asker looked), which must not be dropped.
      displaced.emplace_back(slot, std::move(load));
    } else if (ListedElsewhere(table, *slot, load.name)) {
      refused.emplace_back("Duplicate Satelite Names Not Permitted");
      slot->update.MarkInstalled(load.sequence);
    } else {
      slot->Install(load.name, load.elements);
      slot->update.MarkInstalled(load.sequence);
    }
  }
  for (const auto& [from, load] : displaced) {
    SatelliteRecord* free = nullptr;
    for (SatelliteRecord& slot : table) {
      if (!slot.IsActive() && !slot.update.Pending()) {
        free = &slot;
        break;
      }
    }
    if (free && !ListedElsewhere(table, *free, load.name)) {
      free->Install(load.name, load.elements);
    } else {
      refused.emplace_back(free ? "Duplicate Satelite Names Not Permitted"
                                : "No space available to ADD Satellite");
    }
    from->update.MarkInstalled(load.sequence);
  }
  return refused;
}

}  // namespace halvik
