#pragma once

#include <cstdint>
#include <vector>

// A hash table from a pair of unsigned 32-bit coordinates (a cell's column and row, or a
// tile's) to a 32-bit value, with open addressing and linear probing in one flat array: a
// stored pair costs 12 bytes and a share of the free slots, and no allocation of its own.
// The rasters keep the cells of thinly filled tiles here (see LASraster::set_sparse).
//
// The pair (kVacant, kVacant) marks a free slot and cannot be stored. Growing (`grow`, or
// `insert` when the table is full) may throw std::bad_alloc, leaving the table as it was.
// Pointers to values stay valid until the next insert, grow or erase.
class CellTable {
 public:
  static constexpr std::uint32_t kVacant = 0x80000000u;
  struct Slot {
    std::uint32_t column;
    std::uint32_t row;
    std::uint32_t value;
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
  void grow();

  std::uint32_t* find(std::uint32_t column, std::uint32_t row) {
    if (size_ == 0) return nullptr;
    for (std::size_t at = home(column, row);; at = (at + 1) & mask_) {
      Slot& slot = slots_[at];
      if (slot.column == column && slot.row == row) return &slot.value;
      if (vacant(slot)) return nullptr;
    }
  }
  const std::uint32_t* find(std::uint32_t column, std::uint32_t row) const {
    return const_cast<CellTable*>(this)->find(column, row);
  }
  // The value of the pair, stored as 0 when it was absent (`added` tells which).
  std::uint32_t& insert(std::uint32_t column, std::uint32_t row, bool& added);
  // False when the pair was absent.
  bool erase(std::uint32_t column, std::uint32_t row);
  // Frees the slots.
  void clear();

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

  // Calls visit(column, row, value) for every stored pair, in slot order. The table must
  // not change meanwhile.
  template <class Visit>
  void for_each(Visit&& visit) const {
    if (size_ == 0) return;
    for (const Slot& slot : slots_) {
      if (!vacant(slot)) visit(slot.column, slot.row, slot.value);
    }
  }

 private:
  // At most 7 in 10 slots are taken: probes stay short while a table averages half full.
  static constexpr std::size_t kLoadNumerator = 7;
  static constexpr std::size_t kLoadDenominator = 10;
  static constexpr std::size_t kFirstCapacity = 16;

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
  static std::uint64_t next_salt();
  static bool vacant(const Slot& slot) { return slot.column == kVacant && slot.row == kVacant; }
  void place(const Slot& slot);
  void erase_at(std::size_t hole);

  std::vector<Slot> slots_;
  std::uint64_t salt_ = next_salt();
  std::size_t size_ = 0;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;
};
