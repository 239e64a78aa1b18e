#include "codec/entropy_models.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "codec/item_coder.hpp"

void BitModel::update() {
  count_all += cycle;
  if (count_all > kBitModelCountLimit) {
    count_all = (count_all + 1) >> 1;
    count0 = (count0 + 1) >> 1;
    // A 1 bit must keep some probability, so the halved counts may not meet.
    if (count0 == count_all) count_all++;
  }
  // Integer division first: encoder and decoder must round alike.
  prob0 = (count0 * (0x80000000u / count_all)) >> 18;
  cycle = std::min((5 * cycle) >> 2, kBitModelMaxCycle);
  until_update = cycle;
}

struct SymbolModel::Start {
  std::unique_ptr<std::uint16_t[]> cumulative;
  std::unique_ptr<DecodingSlot[]> slots;
};

namespace {

// Past the last symbol: two that a decoder's slot reads, and one more that lets the slots
// take three counts in one load.
constexpr std::size_t kSentinels = 3;
// Above every quotient (2^15 + 63 at most).
constexpr std::uint16_t kCumulativeSentinel = 0xFFFF;
// About two slots a symbol (2^table_bits of them across 2^15 quotients).
constexpr std::uint32_t lookup_shift_for(std::uint32_t symbols) {
  return kSymbolModelLengthShift - (static_cast<std::uint32_t>(std::bit_width(symbols - 1)) + 1);
}
// With the few more that the quotients just above 2^15 need, which the truncation of the
// interval allows.
constexpr std::uint32_t lookup_size_for(std::uint32_t shift) {
  return ((kSymbolModelCountLimit + kSymbolModelQuotientExcess) >> shift) + 1;
}
constexpr std::uint32_t kMaxLookupSize = lookup_size_for(lookup_shift_for(kSymbolModelMaxSymbols));

// Every chunk starts every model afresh, and most start with all counts 1: copying the
// tables of that start is much cheaper than scaling the counts again, for hundreds of
// models a chunk.
const SymbolModel::Start* shared_start(const SymbolModel& model) {
  static std::mutex mutex;
  static std::map<std::uint64_t, std::unique_ptr<SymbolModel::Start>> starts;
  const std::uint64_t key = (std::uint64_t{model.symbol_tally} << 32) | model.lookup_size;
  const std::lock_guard<std::mutex> lock(mutex);
  auto found = starts.find(key);
  if (found == starts.end()) {
    SymbolModel scratch(model.symbol_tally, model.encoding);
    const std::vector<std::uint32_t> ones(model.symbol_tally, 1u);
    scratch.init(ones.data());
    auto start = std::make_unique<SymbolModel::Start>();
    start->cumulative = std::make_unique<std::uint16_t[]>(model.symbol_tally);
    std::copy(scratch.cumulative, scratch.cumulative + model.symbol_tally, start->cumulative.get());
    if (scratch.slots) {
      start->slots = std::make_unique<DecodingSlot[]>(std::size_t{model.lookup_size} + 1);
      std::copy(scratch.slots, scratch.slots + model.lookup_size + 1, start->slots.get());
    }
    found = starts.emplace(key, std::move(start)).first;
  }
  return found->second.get();
}

}  // namespace

SymbolModel::SymbolModel(std::uint32_t symbols, bool encoding_model) : encoding(encoding_model) {
  if (symbols < kSymbolModelMinSymbols || symbols > kSymbolModelMaxSymbols) {
    throw CodecCorruptData{};
  }
  symbol_tally = symbols;
  max_symbol = symbols - 1;
  if (!encoding) {
    // The table is rebuilt at every update of the model: a small alphabet keeps a small one.
    lookup_shift = lookup_shift_for(symbol_tally);
    lookup_size = lookup_size_for(lookup_shift);
  }
  const std::size_t lookup_entries = lookup_size ? lookup_size + 1 : 0;
  cumulative_storage_ = std::make_unique<std::uint16_t[]>(std::size_t{symbols} + kSentinels);
  cumulative = cumulative_storage_.get();
  std::fill(cumulative + symbols, cumulative + symbols + kSentinels, kCumulativeSentinel);
  count_storage_ = std::make_unique<std::uint32_t[]>(symbols);
  counts = count_storage_.get();
  if (lookup_entries) {
    slot_storage_ = std::make_unique<DecodingSlot[]>(lookup_entries);
    slots = slot_storage_.get();
  }
}

void SymbolModel::init(const std::uint32_t* initial_counts) {
  if (initial_counts) {
    std::copy(initial_counts, initial_counts + symbol_tally, counts);
    total = symbol_tally;
    scale_counts();
  } else {
    std::fill(counts, counts + symbol_tally, 1u);
    total = symbol_tally;
    if (start_ == nullptr) start_ = shared_start(*this);
    std::memcpy(cumulative, start_->cumulative.get(), symbol_tally * sizeof(std::uint16_t));
    if (slots) {
      std::memcpy(slots, start_->slots.get(), (lookup_size + 1) * sizeof(DecodingSlot));
    }
  }
  cycle = until_update = (symbol_tally + 6) >> 1;
}

void SymbolModel::update() {
  total += cycle;
  if (total > kSymbolModelCountLimit) {
    total = 0;
    for (std::uint32_t k = 0; k < symbol_tally; k++) {
      counts[k] = (counts[k] + 1) >> 1;
      total += counts[k];
    }
  }
  scale_counts();
  cycle = std::min((5 * cycle) >> 2, (symbol_tally + 6) << 3);
  until_update = cycle;
}

void SymbolModel::scale_counts() {
  const std::uint32_t scale = 0x80000000u / total;
  const std::uint32_t symbols = symbol_tally;
  std::uint16_t* const cumulative_counts = cumulative;
  const std::uint32_t* const symbol_counts = counts;
  std::uint32_t sum = 0;
  for (std::uint32_t k = 0; k < symbols; k++) {
    cumulative_counts[k] = static_cast<std::uint16_t>((scale * sum) >> 16);
    sum += symbol_counts[k];
  }
  if (!slots) return;
  // The symbol of slot i is the last symbol whose cumulative count lies in a slot before i:
  // one less than the number of such symbols, which a histogram of the symbols' slots and its
  // running sum give without the branches of a search (the cumulative counts never
  // decrease). The histogram has an entry for the slot past the table: a slot beyond the
  // table can only come from initial counts that break the contract of `init`, and clamping
  // keeps such a model inside its memory.
  const std::uint32_t size = lookup_size;
  const std::uint32_t shift = lookup_shift;
  std::array<std::uint16_t, kMaxLookupSize + 2> histogram;
  std::fill(histogram.begin(), histogram.begin() + size + 2, std::uint16_t{0});
  for (std::uint32_t k = 0; k < symbols; k++) {
    histogram[std::min<std::uint32_t>(cumulative_counts[k] >> shift, size) + 1]++;
  }
  // Slot i - 1 is filled once the running sum has given the symbol of slot i.
  DecodingSlot* const table = slots;
  std::uint32_t first = 0;  // the symbol of slot 0 is symbol 0
  std::uint32_t below = 0;
  for (std::uint32_t i = 1; i <= size; i++) {
    below += histogram[i];
    const std::uint32_t next_first = below - 1;
    const std::uint32_t symbol = first | (next_first - first > 1 ? kSearchSlot : 0u);
    if constexpr (std::endian::native == std::endian::little) {
      // The three counts in one load, the slot in one store.
      std::uint64_t counts_from_first;
      std::memcpy(&counts_from_first, cumulative_counts + first, 8);
      const std::uint64_t slot = (counts_from_first << 16) | symbol;
      std::memcpy(table + i - 1, &slot, 8);
    } else {
      table[i - 1] = {static_cast<std::uint16_t>(symbol), cumulative_counts[first],
                      cumulative_counts[first + 1], cumulative_counts[first + 2]};
    }
    first = next_first;
  }
  table[size].symbol = static_cast<std::uint16_t>(first);
}
