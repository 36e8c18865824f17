// Drop records: a list the layer owns, so a handle is checked against it
// before use and a drop never released is not lost.
#include "platform/drop_files.h"

#include <algorithm>
#include <cstring>
#include <memory>

struct DropRecord {
  std::vector<std::string> paths;
};

namespace {

// Every drop not yet released.
std::vector<std::unique_ptr<DropRecord>>& Drops() {
  static std::vector<std::unique_ptr<DropRecord>> drops;
  return drops;
}

// The live record of `drop`, or null for a handle the layer does not hold.
DropRecord* Find(HDROP drop) {
  for (const auto& record : Drops())
    if (record.get() == drop) return record.get();
  return nullptr;
}

}  // namespace

HDROP MakeDrop(std::vector<std::string> paths) {
  auto record = std::make_unique<DropRecord>();
  record->paths = std::move(paths);
  Drops().push_back(std::move(record));
  return Drops().back().get();
}

UINT DragQueryFileA(HDROP drop, UINT index, LPSTR file, UINT size) {
  const DropRecord* record = Find(drop);
  if (record == nullptr) return 0;
  if (index == 0xFFFFFFFFu) return static_cast<UINT>(record->paths.size());
  if (index >= record->paths.size()) return 0;
  const std::string& path = record->paths[index];
  if (file != nullptr && size > 0) {
    const size_t copied = std::min<size_t>(path.size(), size - 1);
    std::memcpy(file, path.data(), copied);
    file[copied] = '\0';
  }
  return static_cast<UINT>(path.size());
}

void DragFinish(HDROP drop) {
  auto& drops = Drops();
  drops.erase(
      std::remove_if(drops.begin(), drops.end(),
                     [drop](const std::unique_ptr<DropRecord>& r) { return r.get() == drop; }),
      drops.end());
}
