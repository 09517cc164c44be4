#include "config/SatelliteList.h"

#include "orbit/ElementSet.h"
#include "platform/Text.h"

namespace halvik {

void AddSatellite(ConfigContext& context, std::string_view name) {
  SatelliteRecord* freeSlot = nullptr;
  for (SatelliteRecord& slot : context.table) {
    if (!slot.IsActive()) {
      freeSlot = &slot;
      break;
    }
  }
  if (!freeSlot) {
    context.messages.Show("No space available to ADD Satellite");
    return;
  }
  for (const SatelliteRecord& slot : context.table) {
    if (slot.IsActive() && EqualsIgnoreCase(slot.name.Get(), name)) {
      context.messages.Show("Duplicate Satelite Names Not Permitted");
      return;
    }
  }
  // The tracking thread skips the inactive slot while the parser fills it; the parser sets
  // `active` as its last store.
  int code = FindElementSet(context.dir / "elements.dat", name, *freeSlot);
  if (code != kElementsOk) context.messages.Show(ElementSetMessage(code));
}

void DeleteSatellite(ConfigContext& context, std::string_view name) {
  bool deleted = false;
  for (SatelliteRecord& slot : context.table) {
    if (!slot.IsActive() || !EqualsIgnoreCase(slot.name.Get(), name)) continue;
    // `active` first, so the tracking thread stops reading the slot before its pass state goes.
    slot.active.store(0, std::memory_order_release);
    slot.aosPending = 0;
    slot.inPass = 0;
    slot.aosTime = 0;
    slot.losTime = 0;
    deleted = true;
  }
  if (!deleted) context.messages.Show("Can't delete satellite");
}

}  // namespace halvik
