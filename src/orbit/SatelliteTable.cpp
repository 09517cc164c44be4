#include "orbit/SatelliteTable.h"

#include <bit>

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

void SlotUpdate::Post(std::int32_t load, std::string_view name, const ElementSet& elements) {
  const std::uint32_t sequence = sequence_.load(std::memory_order_relaxed);
  sequence_.store(sequence + 1, std::memory_order_relaxed);
  // Release: whoever reads one of these values sees the odd sequence number too.
  load_.store(load, std::memory_order_release);
  const std::string_view kept = name.substr(0, kNameCapacity - 1);
  for (std::size_t i = 0; i < kNameCapacity; ++i) {
    name_[i].store(i < kept.size() ? kept[i] : '\0', std::memory_order_release);
  }
  const auto words = std::bit_cast<ElementWords>(elements);
  for (std::size_t i = 0; i < words.size(); ++i) {
    elements_[i].store(words[i], std::memory_order_release);
  }
  sequence_.store(sequence + 2, std::memory_order_release);
}

std::string SlotUpdate::PendingName() const {
  std::string name;
  for (const auto& ch : name_) {
    const char c = ch.load(std::memory_order_acquire);
    if (c == '\0') break;
    name.push_back(c);
  }
  return name;
}

bool SlotUpdate::Pending() const {
  return sequence_.load(std::memory_order_relaxed) != installed_.load(std::memory_order_acquire);
}

void InstallSlotUpdates(SatelliteRecord& slot) {
  SlotUpdate& update = slot.update;
  if (update.passReset_.exchange(0, std::memory_order_acq_rel) != 0) slot.ResetPass();

  const std::uint32_t sequence = update.sequence_.load(std::memory_order_acquire);
  if (sequence == update.installed_.load(std::memory_order_relaxed) || sequence % 2 != 0) return;
  const bool load = update.load_.load(std::memory_order_acquire) != 0;
  const std::string name = update.PendingName();
  ElementWords words;
  for (std::size_t i = 0; i < words.size(); ++i) {
    words[i] = update.elements_[i].load(std::memory_order_acquire);
  }
  const auto elements = std::bit_cast<ElementSet>(words);
  // Rewritten while it was read: the whole new request comes at the next step.
  if (update.sequence_.load(std::memory_order_relaxed) != sequence) return;

  if (load) {
    slot.Install(name, elements);
  } else {
    slot.Empty();
  }
  update.installed_.store(sequence, std::memory_order_release);
}

void InstallSlotUpdates(SatelliteTable& table) {
  for (SatelliteRecord& slot : table) InstallSlotUpdates(slot);
}

}  // namespace halvik
