#include "codec/entropy_models.hpp"

#include <algorithm>
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
  std::unique_ptr<std::uint32_t[]> cumulative;
  std::unique_ptr<DecodingSlot[]> slots;
};

namespace {

constexpr std::size_t kSentinels = 2;

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
    start->cumulative = std::make_unique<std::uint32_t[]>(model.symbol_tally);
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
    // About two slots a symbol (2^table_bits of them across 2^15 quotients), and the few
    // more that the quotients just above 2^15 need, which the truncation of the interval
    // allows (up to 2^15 + 63). The table is rebuilt at every update of the model, so a
    // small alphabet keeps a small one.
    const auto table_bits = static_cast<std::uint32_t>(std::bit_width(symbol_tally - 1)) + 1;
    lookup_shift = kSymbolModelLengthShift - table_bits;
    lookup_size = ((kSymbolModelCountLimit + kSymbolModelQuotientExcess) >> lookup_shift) + 1;
  }
  // One entry more than the table for the histogram that builds it (scale_counts).
  const std::size_t lookup_entries = lookup_size ? lookup_size + 2 : 0;
  storage_ = std::make_unique<std::uint32_t[]>(2 * std::size_t{symbols} + kSentinels);
  cumulative = storage_.get();
  cumulative[symbols] = cumulative[symbols + 1] = UINT32_MAX;
  counts = cumulative + symbols + kSentinels;
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
    std::memcpy(cumulative, start_->cumulative.get(), symbol_tally * sizeof(std::uint32_t));
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
  std::uint32_t sum = 0;
  std::uint32_t largest = 0;
  for (std::uint32_t k = 0; k < symbol_tally; k++) {
    cumulative[k] = (scale * sum) >> 16;
    largest = std::max(largest, cumulative[k]);
    sum += counts[k];
  }
  if (!slots) return;
  // The symbol of slot i is the last symbol whose cumulative count lies in a slot before i:
  // one less than the number of such symbols, which a histogram of the symbols' slots and its
  // running sum give without the branches of a search (the cumulative counts never
  // decrease). The histogram takes the scratch entry for the slot past the table. A slot
  // beyond the table can only come from initial counts that break the contract of `init`;
  // clamping keeps such a model inside its memory.
  for (std::uint32_t i = 0; i <= lookup_size + 1; i++)
    slots[i].symbol = 0;
  for (std::uint32_t k = 0; k < symbol_tally; k++) {
    slots[std::min(cumulative[k] >> lookup_shift, lookup_size) + 1].symbol++;
  }
  // Counts beyond 16 bits (only initial counts that break the contract give them) are left
  // to the search.
  const std::uint16_t search_all = largest > 0xFFFFu ? kSearchSlot : 0;
  const auto count16 = [this](std::uint32_t k) {
    return static_cast<std::uint16_t>(std::min(cumulative[k], 0xFFFFu));
  };
  // Slot i - 1 is filled once the running sum has given the symbol of slot i.
  std::uint32_t first = 0;  // the symbol of slot 0 is symbol 0
  std::uint32_t below = 0;
  for (std::uint32_t i = 1; i <= lookup_size; i++) {
    below += slots[i].symbol;
    const std::uint32_t next_first = below - 1;
    DecodingSlot& slot = slots[i - 1];
    slot.symbol =
        static_cast<std::uint16_t>(first | (next_first > first + 1 ? kSearchSlot : 0) | search_all);
    slot.low = count16(first);
    slot.high = count16(first + 1);
    slot.next = count16(first + 2);
    first = next_first;
  }
  slots[lookup_size].symbol = static_cast<std::uint16_t>(first);
}
