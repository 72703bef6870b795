#include "app/Occupancy.h"

#include <utility>

namespace bunkmere {

TOccupancyFigures& TOccupancyFigures::operator+=(const TOccupancyFigures& A) {
  Cells += A.Cells;
  Beds += A.Beds;
  BedsOccupied += A.BedsOccupied;
  BedsFree += A.BedsFree;
  BedsShared += A.BedsShared;
  People += A.People;
  CellsOverAllowance += A.CellsOverAllowance;
  RowsChanged += A.RowsChanged;
  return *this;
}

void TOccupancyTally::Start(TDateTime AWhen, std::string AWorkstation, bool APreview) {
  *this = {};
  FStarted = true;
  FWhen = AWhen;
  FWorkstation = std::move(AWorkstation);
  FPreview = APreview;
  FOutcome = TPassOutcome::Running;
}

void TOccupancyTally::Facility(const std::string& AId, const std::string& ADescription) {
  FFacilities.push_back({AId, ADescription, {}, {}});
}

void TOccupancyTally::Dorm(const std::string& ACode) {
  LastFacility().Dorms.push_back({ACode, {}});
}

TFacilityOccupancy& TOccupancyTally::LastFacility() {
  if (FFacilities.empty()) FFacilities.emplace_back();
  return FFacilities.back();
}

TDormOccupancy& TOccupancyTally::LastDorm() {
  TFacilityOccupancy& facility = LastFacility();
  if (facility.Dorms.empty()) facility.Dorms.emplace_back();
  return facility.Dorms.back();
}

TOccupancyTally::TPlace TOccupancyTally::Here() {
  LastDorm();
  return {FFacilities.size() - 1, FFacilities.back().Dorms.size() - 1};
}

void TOccupancyTally::Add(TPlace APlace, const TOccupancyFigures& AFigures) {
  TFacilityOccupancy& facility = FFacilities.at(APlace.Facility);
  facility.Dorms.at(APlace.Dorm).Figures += AFigures;
  facility.Figures += AFigures;
}

void TOccupancyTally::Cell(TPlace APlace, int ABookings, bool AOverAllowance) {
  TOccupancyFigures f;
  f.Cells = 1;
  // A negative count cannot come from Count(); it is not a person.
  f.People = ABookings > 0 ? ABookings : 0;
  f.CellsOverAllowance = AOverAllowance ? 1 : 0;
  Add(APlace, f);
}

void TOccupancyTally::Bed(TPlace APlace, int ABookings) {
  TOccupancyFigures f;
  f.Beds = 1;
  f.BedsOccupied = ABookings >= 1 ? 1 : 0;
  f.BedsFree = ABookings >= 1 ? 0 : 1;
  f.BedsShared = ABookings >= 2 ? 1 : 0;
  Add(APlace, f);
}

void TOccupancyTally::Conflict(TPlace APlace, const std::string& ALogLine,
                               std::vector<std::string> ABookNos) {
  const TFacilityOccupancy& facility = FFacilities.at(APlace.Facility);
  FConflicts.push_back(
      {facility.Id, facility.Dorms.at(APlace.Dorm).Code, ALogLine, std::move(ABookNos)});
}

void TOccupancyTally::RowChanged(TPlace APlace, const TRowChange& AChange) {
  TOccupancyFigures f;
  f.RowsChanged = 1;
  Add(APlace, f);
  const TFacilityOccupancy& facility = FFacilities.at(APlace.Facility);
  FChanges.push_back({facility.Id, facility.Dorms.at(APlace.Dorm).Code, AChange});
}

void TOccupancyTally::Finish(TPassOutcome AOutcome) {
  FOutcome = AOutcome;
}

TOccupancyFigures TOccupancyTally::Totals() const {
  TOccupancyFigures total;
  for (const TFacilityOccupancy& facility : FFacilities) total += facility.Figures;
  return total;
}

const char* OutcomeName(TPassOutcome AOutcome) {
  switch (AOutcome) {
    case TPassOutcome::None:
      return "none";
    case TPassOutcome::Running:
      return "running";
    case TPassOutcome::Completed:
      return "completed";
    case TPassOutcome::Held:
      return "held";
    case TPassOutcome::Failed:
      return "failed";
    case TPassOutcome::Stopped:
      return "stopped";
  }
  return "none";
}

}  // namespace bunkmere
