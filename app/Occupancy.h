#pragma once
// TOccupancyTally: the jail's occupancy as one pass found it, gathered from what the pass
// counts anyway, so that a report costs the server nothing. The pass tells it, in pass order,
// each facility, dorm, cell and bed it finishes, each conflict it logs and each row it changes;
// a row the pass never reached is in no figure, so a pass that stops early leaves a partial
// picture of exactly the rows before the stop.

#include <string>
#include <vector>

#include "app/PassRecord.h"
#include "core/DateTime.h"

namespace bunkmere {

struct TOccupancyFigures {
  int Cells = 0;
  int Beds = 0;
  // Beds with at least one current booking; BedsShared of them hold two or more.
  int BedsOccupied = 0;
  int BedsFree = 0;
  int BedsShared = 0;
  // Current bookings on the cells, as each cell's count found them.
  int People = 0;
  // Cells holding more than their allowance without being allowed to: the cell conflicts.
  int CellsOverAllowance = 0;
  // Rows the pass changed, or in a preview would change.
  int RowsChanged = 0;

  TOccupancyFigures& operator+=(const TOccupancyFigures& A);
  bool operator==(const TOccupancyFigures&) const = default;
};

struct TDormOccupancy {
  std::string Code;
  TOccupancyFigures Figures;
};

struct TFacilityOccupancy {
  std::string Id, Description;
  std::vector<TDormOccupancy> Dorms;
  // The sum of its dorms.
  TOccupancyFigures Figures;
};

// A conflict as the log reports it: its first line and the booking numbers listed under it.
struct TOccupancyConflict {
  std::string FacilityId, Dorm;
  std::string LogLine;
  std::vector<std::string> BookNos;
};

struct TOccupancyChange {
  std::string FacilityId, Dorm;
  TRowChange Change;
};

class TOccupancyTally {
 public:
  // Forgets the last pass.
  void Start(TDateTime AWhen, std::string AWorkstation, bool APreview);
  void Facility(const std::string& AId, const std::string& ADescription);
  // Within the last facility.
  void Dorm(const std::string& ACode);
  // Where the pass is: the last facility and dorm. A row is told of once it is written, which
  // may be after the pass has moved on, so it names the place it was counted at.
  struct TPlace {
    std::size_t Facility = 0, Dorm = 0;
  };
  TPlace Here();
  // A cell the pass has finished with (written, or reported over its allowance).
  void Cell(TPlace APlace, int ABookings, bool AOverAllowance);
  // A bed the pass has written.
  void Bed(TPlace APlace, int ABookings);
  void Conflict(TPlace APlace, const std::string& ALogLine, std::vector<std::string> ABookNos);
  void RowChanged(TPlace APlace, const TRowChange& AChange);
  void Finish(TPassOutcome AOutcome);

  bool Started() const noexcept { return FStarted; }
  TDateTime When() const noexcept { return FWhen; }
  const std::string& Workstation() const noexcept { return FWorkstation; }
  bool Preview() const noexcept { return FPreview; }
  TPassOutcome Outcome() const noexcept { return FOutcome; }
  // Anything but a completed pass covers only the rows it reached.
  bool Partial() const noexcept { return FOutcome != TPassOutcome::Completed; }
  const std::vector<TFacilityOccupancy>& Facilities() const noexcept { return FFacilities; }
  TOccupancyFigures Totals() const;
  const std::vector<TOccupancyConflict>& Conflicts() const noexcept { return FConflicts; }
  const std::vector<TOccupancyChange>& Changes() const noexcept { return FChanges; }

 private:
  // The figures a cell, bed or change adds to: the last dorm's and its facility's. A call
  // before any facility or dorm (which the pass never makes) goes to a facility and dorm
  // without a name rather than being lost.
  void Add(TPlace APlace, const TOccupancyFigures& AFigures);
  TFacilityOccupancy& LastFacility();
  TDormOccupancy& LastDorm();

  bool FStarted = false;
  TDateTime FWhen = 0;
  std::string FWorkstation;
  bool FPreview = false;
  TPassOutcome FOutcome = TPassOutcome::None;
  std::vector<TFacilityOccupancy> FFacilities;
  std::vector<TOccupancyConflict> FConflicts;
  std::vector<TOccupancyChange> FChanges;
};

// "completed", "held", "failed", "stopped" (or "running", "none"): the outcome's name in the
// reports.
const char* OutcomeName(TPassOutcome AOutcome);

}  // namespace bunkmere
