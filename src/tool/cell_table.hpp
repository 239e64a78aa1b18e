#pragma once

#include <bit>
#include <cstdint>
#include <vector>

// The salt of a new table (see CellTable::home); thread-safe.
std::uint64_t next_cell_table_salt();

// A hash table from a pair of unsigned 32-bit coordinates (a cell's column and row, or a
// tile's) to a value, with open addressing and linear probing in one flat array: a stored
// pair costs its slot (8 bytes and the value) and a share of the free slots, and no
// allocation of its own. The rasters keep the cells of thinly filled tiles here (see
// LASraster::set_sparse).
//
// The pair (kVacant, kVacant) marks a free slot and cannot be stored. Growing (`grow`, or
// `insert` when the table is full) may throw std::bad_alloc, leaving the table as it was.
// Pointers to values stay valid until the next insert, grow or erase.
template <class Value>
class CellTable {
 public:
  static constexpr std::uint32_t kVacant = 0x80000000u;
  struct Slot {
    std::uint32_t column;
    std::uint32_t row;
    Value value;
  };

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t capacity() const { return slots_.size(); }
  std::uint64_t bytes() const { return slots_.size() * sizeof(Slot); }

  // True when one more pair would make the table grow first; `grown_bytes` is then the
  // size of the grown table.
  bool needs_growth() const {
    return (size_ + 1) * kLoadDenominator > slots_.size() * kLoadNumerator;
  }
  std::uint64_t grown_bytes() const { return grown_capacity() * sizeof(Slot); }
  void grow() {
    const std::size_t capacity = grown_capacity();
    std::vector<Slot> old_slots(capacity, Slot{kVacant, kVacant, Value{}});  // may throw
    old_slots.swap(slots_);
    mask_ = capacity - 1;
    shift_ = 64u - static_cast<unsigned>(std::countr_zero(capacity));
    for (const Slot& slot : old_slots) {
      if (!vacant(slot)) slots_[free_slot(slot.column, slot.row)] = slot;
    }
  }

  Value* find(std::uint32_t column, std::uint32_t row) {
    if (size_ == 0) return nullptr;
    for (std::size_t at = home(column, row);; at = (at + 1) & mask_) {
      Slot& slot = slots_[at];
      if (slot.column == column && slot.row == row) return &slot.value;
      if (vacant(slot)) return nullptr;
    }
  }
  const Value* find(std::uint32_t column, std::uint32_t row) const {
    return const_cast<CellTable*>(this)->find(column, row);
  }
  // The value of the pair, stored as Value{} when it was absent (`added` tells which).
  Value& insert(std::uint32_t column, std::uint32_t row, bool& added) {
    if (Value* value = find(column, row)) {
      added = false;
      return *value;
    }
    if (needs_growth()) grow();
    Slot& slot = slots_[free_slot(column, row)];
    slot = Slot{column, row, Value{}};
    size_++;
    added = true;
    return slot.value;
  }
  // False when the pair was absent.
  bool erase(std::uint32_t column, std::uint32_t row) {
    if (size_ == 0) return false;
    std::size_t at = home(column, row);
    for (;; at = (at + 1) & mask_) {
      const Slot& slot = slots_[at];
      if (slot.column == column && slot.row == row) break;
      if (vacant(slot)) return false;
    }
    erase_at(at);
    return true;
  }

  // Calls visit(column, row, value) for every stored pair, in slot order. The table must
  // not change meanwhile.
  template <class Visit>
  void for_each(Visit&& visit) const {
    if (size_ == 0) return;
    for (const Slot& slot : slots_) {
      if (!vacant(slot)) visit(slot.column, slot.row, slot.value);
    }
  }
  // Calls take(column, row, value) for the stored pairs and removes each for which it
  // returns true. A pair that it keeps may be shown to it twice (moved back by a removal).
  template <class Take>
  void take_if(Take&& take) {
    for (std::size_t at = 0; at < slots_.size();) {
      const Slot& slot = slots_[at];
      if (vacant(slot) || !take(slot.column, slot.row, slot.value)) {
        at++;
        continue;
      }
      erase_at(at);  // a later pair may have moved here: look again
    }
  }

 private:
  // At most 7 in 10 slots are taken: probes stay short while a table averages half full.
  static constexpr std::size_t kLoadNumerator = 7;
  static constexpr std::size_t kLoadDenominator = 10;
  static constexpr std::size_t kFirstCapacity = 16;

  static bool vacant(const Slot& slot) { return slot.column == kVacant && slot.row == kVacant; }
  std::size_t grown_capacity() const { return slots_.empty() ? kFirstCapacity : 2 * slots_.size(); }
  // A full mix of both words, salted per table: pairs copied from one table into another
  // in slot order (the marks of a search) would otherwise arrive in the order of their
  // slots there, pile up at the front and make every insertion walk a long run.
  std::size_t home(std::uint32_t column, std::uint32_t row) const {
    std::uint64_t key = ((static_cast<std::uint64_t>(column) << 32) | row) ^ salt_;
    key ^= key >> 33;
    key *= 0xFF51AFD7ED558CCDull;
    key ^= key >> 33;
    key *= 0xC4CEB9FE1A85EC53ull;
    key ^= key >> 33;
    return static_cast<std::size_t>(key >> shift_);
  }
  // The first free slot of the pair's run; the pair must be absent and a slot free.
  std::size_t free_slot(std::uint32_t column, std::uint32_t row) const {
    std::size_t at = home(column, row);
    while (!vacant(slots_[at]))
      at = (at + 1) & mask_;
    return at;
  }
  void erase_at(std::size_t hole) {
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
    slots_[hole] = Slot{kVacant, kVacant, Value{}};
    size_--;
  }

  std::vector<Slot> slots_;
  std::uint64_t salt_ = next_cell_table_salt();
  std::size_t size_ = 0;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;
};
