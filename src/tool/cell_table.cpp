#include "tool/cell_table.hpp"

#include <atomic>

std::uint64_t next_cell_table_salt() {
  // Tables are made on several threads at once (one file per thread).
  static std::atomic<std::uint64_t> tables{0};
  return (tables.fetch_add(1, std::memory_order_relaxed) + 1) * 0x9E3779B97F4A7C15ull;
}
