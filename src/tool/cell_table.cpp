#include "tool/cell_table.hpp"

#include <atomic>
#include <bit>

void CellTable::grow() {
  const std::size_t capacity = grown_capacity();
  std::vector<Slot> old_slots(capacity, Slot{kVacant, kVacant, 0});  // may throw: no change
  old_slots.swap(slots_);
  mask_ = capacity - 1;
  shift_ = 64u - static_cast<unsigned>(std::countr_zero(capacity));
  for (const Slot& slot : old_slots) {
    if (!vacant(slot)) place(slot);
  }
}

void CellTable::place(const Slot& slot) {
  std::size_t at = home(slot.column, slot.row);
  while (!vacant(slots_[at]))
    at = (at + 1) & mask_;
  slots_[at] = slot;
}

std::uint32_t& CellTable::insert(std::uint32_t column, std::uint32_t row, bool& added) {
  if (std::uint32_t* value = find(column, row)) {
    added = false;
    return *value;
  }
  if (needs_growth()) grow();
  std::size_t at = home(column, row);
  while (!vacant(slots_[at]))
    at = (at + 1) & mask_;
  slots_[at] = Slot{column, row, 0};
  size_++;
  added = true;
  return slots_[at].value;
}

bool CellTable::erase(std::uint32_t column, std::uint32_t row) {
  if (size_ == 0) return false;
  std::size_t hole = home(column, row);
  for (;; hole = (hole + 1) & mask_) {
    const Slot& slot = slots_[hole];
    if (slot.column == column && slot.row == row) break;
    if (vacant(slot)) return false;
  }
  erase_at(hole);
  return true;
}

void CellTable::erase_at(std::size_t hole) {
  // Moves back every later pair of the run whose home does not lie between the hole and
  // itself, so that no lookup meets a free slot before its pair (no tombstones).
  for (std::size_t next = (hole + 1) & mask_;; next = (next + 1) & mask_) {
    const Slot& slot = slots_[next];
    if (vacant(slot)) break;
    const std::size_t wanted = home(slot.column, slot.row);
    const bool stays =
        hole < next ? (wanted > hole && wanted <= next) : (wanted > hole || wanted <= next);
    if (stays) continue;
    slots_[hole] = slot;
    hole = next;
  }
  slots_[hole] = Slot{kVacant, kVacant, 0};
  size_--;
}

void CellTable::clear() {
  slots_ = {};
  size_ = 0;
  mask_ = 0;
  shift_ = 64;
}

std::uint64_t CellTable::next_salt() {
  // Tables are made on several threads at once (one file per thread).
  static std::atomic<std::uint64_t> tables{0};
  return (tables.fetch_add(1, std::memory_order_relaxed) + 1) * 0x9E3779B97F4A7C15ull;
}
