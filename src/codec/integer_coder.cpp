#include "codec/integer_coder.hpp"

#include <algorithm>
#include <utility>

namespace {
constexpr std::uint32_t kMaxModelledBits =
    static_cast<std::uint32_t>(std::bit_width(kSymbolModelMaxSymbols)) - 1;
}  // namespace

IntegerCoder::IntegerCoder(EntropyEncoder* encoder, std::uint32_t bits_, std::uint32_t contexts_,
                           std::uint32_t high_bits_, std::uint32_t range_)
    : bits(bits_), contexts(contexts_), high_bits(high_bits_), range(range_), encoder_(encoder) {
  setup_corrector();
}

IntegerCoder::IntegerCoder(EntropyDecoder* decoder, std::uint32_t bits_, std::uint32_t contexts_,
                           std::uint32_t high_bits_, std::uint32_t range_)
    : bits(bits_), contexts(contexts_), high_bits(high_bits_), range(range_), decoder_(decoder) {
  setup_corrector();
}

void IntegerCoder::setup_corrector() {
  if (range) {
    corrector_range = range;
    corrector_bits = static_cast<std::uint32_t>(std::bit_width(range)) - 1;
    if (!std::has_single_bit(range)) corrector_bits++;
    corrector_min = -static_cast<std::int32_t>(range / 2);
    corrector_max =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(corrector_min) + range - 1);
  } else if (bits < 1 || bits >= 32) {
    corrector_bits = 32;
    corrector_range = 0;
    corrector_min = INT32_MIN;
    corrector_max = INT32_MAX;
  } else {
    corrector_bits = bits;
    corrector_range = 1u << bits;
    corrector_min = -static_cast<std::int32_t>(corrector_range / 2);
    corrector_max =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(corrector_min) + corrector_range - 1);
  }
  last_k = 0;
}

void IntegerCoder::init() {
  const bool encoding = encoder_ != nullptr;
  if (k_models.empty()) {
    // Built aside first, so that parameters that give an impossible model leave the coder
    // without models rather than with half of them.
    std::vector<SymbolModel> class_models;
    class_models.reserve(contexts);
    for (std::uint32_t i = 0; i < contexts; i++) {
      class_models.emplace_back(corrector_bits + 1, encoding);
    }
    std::vector<SymbolModel> within_models;
    within_models.reserve(corrector_bits);
    for (std::uint32_t k = 1; k <= corrector_bits; k++) {
      const std::uint32_t modelled_bits = std::min(k, high_bits);
      // More modelled bits than the largest alphabet holds: let the model's creation say so.
      within_models.emplace_back(modelled_bits <= kMaxModelledBits ? 1u << modelled_bits : 0u,
                                 encoding);
    }
    k_models = std::move(class_models);
    corrector_models = std::move(within_models);
  }
  for (SymbolModel& model : k_models)
    model.init();
  corrector_bit_model.init();
  for (SymbolModel& model : corrector_models)
    model.init();
}
