#include "config/SatelliteList.h"

#include <string>

#include "config/StationFileNames.h"
#include "orbit/ElementSet.h"
#include "platform/Text.h"

namespace halvik {

// Both commands decide on the table as their own requests will leave it: the tracking thread
// installs a request at its next prediction step, and a second command may come before that.

void AddSatellite(ConfigContext& context, std::string_view name) {
  SatelliteRecord* freeSlot = nullptr;
  for (SatelliteRecord& slot : context.table) {
    if (!slot.WillBeActive()) {
      freeSlot = &slot;
      break;
    }
  }
  if (!freeSlot) {
    context.messages.Show("No space available to ADD Satellite");
    return;
  }
  for (const SatelliteRecord& slot : context.table) {
    if (slot.WillBeActive() && EqualsIgnoreCase(slot.WillHoldName(), name)) {
      context.messages.Show("Duplicate Satelite Names Not Permitted");
      return;
    }
  }
  const ParsedSatellite parsed = FindElementSet(context.dir / kElementsFile, name);
  if (!parsed.ok()) {
    context.messages.Show(ElementSetMessage(parsed.code));
    return;
  }
  // What the slot holds now (the active flag first), so that the install can tell whether it
  // still does.
  const std::string replacing = freeSlot->IsActive() ? freeSlot->name.Get() : std::string();
  freeSlot->update.PostLoad(parsed.name, parsed.elements, replacing);
}

void DeleteSatellite(ConfigContext& context, std::string_view name) {
  bool deleted = false;
  for (SatelliteRecord& slot : context.table) {
    if (!slot.WillBeActive() || !EqualsIgnoreCase(slot.WillHoldName(), name)) continue;
    slot.update.PostEmpty();
    deleted = true;
  }
  if (!deleted) context.messages.Show("Can't delete satellite");
}

}  // namespace halvik
