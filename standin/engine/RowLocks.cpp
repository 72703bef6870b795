#include "standin/engine/RowLocks.h"

namespace standin {

int RowLocks::Holder(const std::string& table, const std::string& key, int spid) const {
  auto it = holders_.find(Name(table, key));
  return it == holders_.end() || it->second == spid ? 0 : it->second;
}

bool RowLocks::OthersHold(const std::string& table, int spid) const {
  auto it = tables_.find(table);
  if (it == tables_.end()) return false;
  for (const auto& [holder, count] : it->second)
    if (holder != spid && count > 0) return true;
  return false;
}

void RowLocks::Take(const std::string& table, const std::string& key, int spid,
                    std::shared_ptr<const std::vector<ValuePtr>> image) {
  std::string name = Name(table, key);
  auto [it, added] = holders_.emplace(name, spid);
  if (!added) return;  // already ours: a writer never reaches a row another session holds
  rowsOf_[spid].emplace_back(table, std::move(name));
  ++tables_[table][spid];
  if (image) images_[table].push_back({spid, std::move(image)});
}

void RowLocks::ReleaseAll(int spid) {
  auto it = rowsOf_.find(spid);
  if (it != rowsOf_.end()) {
    for (const auto& [table, name] : it->second) {
      holders_.erase(name);
      auto t = tables_.find(table);
      if (t != tables_.end()) {
        t->second.erase(spid);
        if (t->second.empty()) tables_.erase(t);
      }
      auto i = images_.find(table);
      if (i != images_.end()) {
        std::erase_if(i->second, [spid](const Image& image) { return image.spid == spid; });
        if (i->second.empty()) images_.erase(i);
      }
    }
    rowsOf_.erase(it);
  }
  released.notify_all();
}

bool RowLocks::StartWaiting(int spid, int holder) {
  // Sessions wait for one session at a time, so the wait-for graph is a set of chains.
  for (int at = holder, steps = 0; at != 0 && steps <= static_cast<int>(waitsFor_.size());
       ++steps) {
    if (at == spid) return false;
    auto next = waitsFor_.find(at);
    at = next == waitsFor_.end() ? 0 : next->second;
  }
  waitsFor_[spid] = holder;
  return true;
}

void RowLocks::StopWaiting(int spid) {
  waitsFor_.erase(spid);
}

}  // namespace standin
