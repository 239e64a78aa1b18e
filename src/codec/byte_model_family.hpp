#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "codec/entropy_models.hpp"

// 256 symbol models of a byte alphabet, one per value of the previous byte (the return
// byte, class byte and user data of POINT10 are coded with the model of the last point's
// value). A model is made on first use; once made it stays and `init` resets it with the
// others, so at most 256 allocations happen in an engine's life, never per point after the
// byte values have been seen. A model made mid-chunk starts fresh, exactly like one that
// was reset at the chunk's start, so when a model is made does not change the coding.
class ByteModelFamily {
 public:
  explicit ByteModelFamily(bool encoding) : encoding_(encoding) {}

  void init() {
    for (auto& model : models_) {
      if (model) model->init();
    }
  }

  SymbolModel& operator[](std::uint8_t previous) {
    std::unique_ptr<SymbolModel>& model = models_[previous];
    if (!model) [[unlikely]] {
      model = std::make_unique<SymbolModel>(kSymbols, encoding_);
      model->init();
    }
    return *model;
  }

 private:
  static constexpr std::uint32_t kSymbols = 256;
  std::array<std::unique_ptr<SymbolModel>, 256> models_;
  bool encoding_;
};

// One byte-alphabet model per byte of an extra-bytes item. The item's size comes from the
// file (up to 65535 bytes), so the models are made on first use, like those above: a file
// pays for the bytes it actually codes, not for what its codec record claims. A slot costs a
// pointer until its byte is coded.
class ByteModelRow {
 public:
  ByteModelRow(std::uint32_t size, bool encoding) : models_(size), encoding_(encoding) {}

  void init() {
    for (auto& model : models_) {
      if (model) model->init();
    }
  }

  SymbolModel& operator[](std::size_t i) {
    std::unique_ptr<SymbolModel>& model = models_[i];
    if (!model) [[unlikely]] {
      model = std::make_unique<SymbolModel>(kSymbols, encoding_);
      model->init();
    }
    return *model;
  }

 private:
  static constexpr std::uint32_t kSymbols = 256;
  std::vector<std::unique_ptr<SymbolModel>> models_;
  bool encoding_;
};
