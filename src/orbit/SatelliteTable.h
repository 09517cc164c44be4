#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Shared.h"

namespace halvik {

inline constexpr int kSlotCount = 6;
inline constexpr std::size_t kNameCapacity = 24;  // 23 characters and the NUL

// The orbital elements of one satellite as parsed from its two element lines: a plain value,
// copied out of a slot for computation.
struct ElementSet {
  double meanAnomaly = 0;        // rad, at epoch
  double ascendingNode = 0;      // rad, right ascension of the ascending node at epoch
  double argumentOfPerigee = 0;  // rad
  double eccentricity = 0;
  double inclination = 0;       // rad
  double meanMotion = 0;        // rad/min, as read from the element set
  double meanMotionDot = 0;     // rad/min^2, first derivative of mean motion / 2
  double meanMotionDdot = 0;    // rad/min^3, second derivative / 6
  double bstar = 0;             // 1/Earth radii; 0 is replaced by an estimate on propagation
  double epochMinutes = 0;      // min since 1970-01-01 00:00 UTC
  double epoch1950Minutes = 0;  // min since 1950 January 0.0 UTC (1949-12-31 00:00)
};

// The element set's fields, listed once: copies between the plain value and its shared forms.
template <class From, class To>
void CopyElements(const From& from, To& to) {
  to.meanAnomaly = from.meanAnomaly;
  to.ascendingNode = from.ascendingNode;
  to.argumentOfPerigee = from.argumentOfPerigee;
  to.eccentricity = from.eccentricity;
  to.inclination = from.inclination;
  to.meanMotion = from.meanMotion;
  to.meanMotionDot = from.meanMotionDot;
  to.meanMotionDdot = from.meanMotionDdot;
  to.bstar = from.bstar;
  to.epochMinutes = from.epochMinutes;
  to.epoch1950Minutes = from.epoch1950Minutes;
}

struct SatelliteRecord;
struct SlotLoad;

// A change of one slot asked for by another thread (the user-interface commands) and installed
// by the tracking thread between two prediction steps, so that the tracking thread is the only
// writer of the slot. The asking side never waits: a request replaces one not yet installed.
// Its sequence number is odd while a request is being written, and every field is written with
// release and read with acquire, so the installing side can tell a request it caught half
// written from a whole one; it leaves the former for its next step.
class SlotUpdate {
 public:
  // One asking thread: the slot is to hold the satellite `name` with `elements`, or to be
  // emptied. `replacing` is the satellite the asker saw installed in the slot (empty when it saw
  // the slot empty): a slot that holds another one by the time of the install (the start-up
  // filled it from sats.dat) is not taken, and the satellite goes to a free slot instead.
  void PostLoad(std::string_view name, const ElementSet& elements, std::string_view replacing) {
    Post(1, name, elements, replacing);
  }
  void PostEmpty() { Post(0, {}, {}, {}); }
  // Any thread: the slot's pass is to be searched afresh (a new station or minimum elevation).
  void PostPassReset() { passReset_.store(1, std::memory_order_release); }

  // The asking thread: whether a request of its own is not yet installed, and what it asks.
  bool Pending() const;
  bool PendingLoad() const { return load_.load(std::memory_order_relaxed) != 0; }
  std::string PendingName() const;

  // The owning thread, once a load taken by TakeSlotUpdate is installed (or placed elsewhere):
  // until then the asking side still sees it pending, so a Delete right after an Add finds it.
  void MarkInstalled(std::uint32_t sequence) {
    installed_.store(sequence, std::memory_order_release);
  }

 private:
  friend std::optional<SlotLoad> TakeSlotUpdate(SatelliteRecord& slot);
  void Post(std::int32_t load, std::string_view name, const ElementSet& elements,
            std::string_view replacing);
  static std::string Read(const std::array<std::atomic<char>, kNameCapacity>& text);

  std::atomic<std::uint32_t> sequence_{0};   // written by the asking thread
  std::atomic<std::uint32_t> installed_{0};  // the sequence last installed
  std::atomic<std::int32_t> passReset_{0};
  std::atomic<std::int32_t> load_{0};  // 1: load the satellite below; 0: empty the slot
  std::array<std::atomic<char>, kNameCapacity> name_{};
  std::array<std::atomic<char>, kNameCapacity> replacing_{};
  std::array<std::atomic<double>, sizeof(ElementSet) / sizeof(double)> elements_{};
};

// One slot of the satellite table. Every field may be read by another thread while it is
// written, so each is a lock-free shared value. A reader tests `active` (acquire) first and
// skips the slot when it is 0; Install clears it first and sets it last (release). Only the
// thread that owns the table writes a slot; other threads ask through `update`.
struct SatelliteRecord {
  SharedName<kNameCapacity> name;
  std::atomic<std::int32_t> active{0};

  // The element set (see ElementSet for units).
  Shared<double> meanAnomaly, ascendingNode, argumentOfPerigee, eccentricity, inclination,
      meanMotion, meanMotionDot, meanMotionDdot, bstar, epochMinutes, epoch1950Minutes;

  Shared<double> position[3];      // Earth radii, inertial frame, at the latest step
  Shared<double> velocity[3];      // Earth radii/min
  Shared<double> subSatellite[3];  // longitude rad (-pi, pi], geocentric latitude rad, distance
  Shared<double> lookAngles[3];    // azimuth rad [0, 2pi), elevation rad, range Earth radii

  Shared<std::int64_t> aosTime;  // s since 1970 on the corrected clock; 0 none; -1 geosync
  Shared<std::int64_t> losTime;  // same scale; 0 none found; -1 geosync
  Shared<std::int32_t> aosPending;
  Shared<std::int32_t> inPass;
  Shared<std::int32_t> geosynchronous;
  Shared<std::int32_t> latitudeDeg;   // whole degrees, north positive
  Shared<std::int32_t> longitudeDeg;  // whole degrees, east positive
  Shared<double> azimuthDeg;          // [0, 360)
  Shared<double> elevationDeg;        // negative below the horizon

  SlotUpdate update;

  bool IsActive() const { return active.load(std::memory_order_acquire) != 0; }
  ElementSet Elements() const;

  // The asking thread's view: the slot as its pending request will leave it.
  bool WillBeActive() const { return update.Pending() ? update.PendingLoad() : IsActive(); }
  std::string WillHoldName() const { return update.Pending() ? update.PendingName() : name.Get(); }

  // The owner's writes. Clear: inactive, no name, no pass, no display values.
  void Clear();
  // Loads a satellite: cleared first, its name and elements, `active` set last.
  void Install(std::string_view satelliteName, const ElementSet& elements);
  // Empties the slot: `active` first, then its pass state.
  void Empty();
  void ResetPass() {
    aosPending = 0;
    inPass = 0;
  }
};

using SatelliteTable = std::array<SatelliteRecord, kSlotCount>;

// A load request as the tracking thread takes it from a slot.
struct SlotLoad {
  std::string name;
  ElementSet elements;
  std::string replacing;       // what the asker saw installed in the slot; empty: nothing
  std::uint32_t sequence = 0;  // of the request, for MarkInstalled
};

// The tracking thread: takes the slot's pending request; an emptying (and a pass reset) is done
// at once, a load is handed back to be installed and then marked installed.
std::optional<SlotLoad> TakeSlotUpdate(SatelliteRecord& slot);
// The tracking thread, between two steps: installs every slot's pending request. A load whose
// slot meanwhile holds another satellite than its asker saw goes to the lowest slot that is
// empty with nothing pending. Returns the messages of the loads that found no place: "No space
// available to ADD Satellite", or "Duplicate Satelite Names Not Permitted" when the satellite
// is listed in another slot by then.
std::vector<std::string> InstallSlotUpdates(SatelliteTable& table);

}  // namespace halvik
