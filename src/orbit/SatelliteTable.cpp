#include "orbit/SatelliteTable.h"

namespace halvik {

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
  std::atomic_thread_fence(std::memory_order_release);
  load_ = load;
  name_.Set(name);
  CopyElements(elements, elements_);
  sequence_.store(sequence + 2, std::memory_order_release);
}

bool SlotUpdate::Pending() const {
  return sequence_.load(std::memory_order_relaxed) != installed_.load(std::memory_order_acquire);
}

void InstallSlotUpdates(SatelliteRecord& slot) {
  SlotUpdate& update = slot.update;
  if (update.passReset_.exchange(0, std::memory_order_acq_rel) != 0) slot.ResetPass();

  const std::uint32_t sequence = update.sequence_.load(std::memory_order_acquire);
  if (sequence == update.installed_.load(std::memory_order_relaxed) || sequence % 2 != 0) return;
  const bool load = update.load_ != 0;
  const std::string name = update.name_.Get();
  ElementSet elements;
  CopyElements(update.elements_, elements);
  std::atomic_thread_fence(std::memory_order_acquire);
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
