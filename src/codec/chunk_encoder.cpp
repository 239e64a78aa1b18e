#include "codec/chunk_encoder.hpp"

#include "codec/entropy_encoder.hpp"
#include "stream/bytestream_out.hpp"

LASchunkEncoder::LASchunkEncoder() = default;
LASchunkEncoder::~LASchunkEncoder() = default;

bool LASchunkEncoder::setup(std::span<const LASitem> items, bool layered,
                            const LASitemCodecFactory& factory) {
  writers_.clear();
  direct_ = false;
  layered_ = layered;
  encoder_ = std::make_unique<EntropyEncoder>();
  if (items.empty() || !layout_.init(items)) return false;
  if (!point_.init_layout(nullptr, static_cast<std::uint16_t>(items.size()), items.data(),
                          nullptr)) {
    return false;
  }
  for (const LASitem& item : items) {
    auto writer = factory.make_writer(item, *encoder_);
    if (!writer) return false;
    writers_.push_back(std::move(writer));
  }
  direct_ = writers_[0]->writes_raw();
  return true;
}

bool LASchunkEncoder::encode(const std::uint8_t* records, std::uint32_t count, ByteStreamOut& out) {
  if (count == 0) return false;
  const std::size_t size = layout_.record_size();
  bool ok = begin(records, out);
  for (std::uint32_t p = 1; p < count; p++) {
    if (!add(records + p * size)) ok = false;
  }
  return end(count) && ok;
}

bool LASchunkEncoder::begin(const std::uint8_t* record, ByteStreamOut& out) {
  if (writers_.empty()) return false;
  out_ = &out;
  bool ok = out.write_bytes(record, layout_.record_size());
  std::uint8_t* const* items = point_.item_data.data();
  layout_.scatter(record, items);
  std::uint32_t context = 0;
  for (std::size_t i = 0; i < writers_.size(); i++) {
    if (!writers_[i]->init(items[i], context)) ok = false;
  }
  if (!encoder_->init(&out)) ok = false;
  return ok;
}

bool LASchunkEncoder::end(std::uint32_t count) {
  if (out_ == nullptr) return false;
  ByteStreamOut& out = *out_;
  out_ = nullptr;
  bool ok = true;
  if (layered_) {
    if (!out.write32_le(&count)) ok = false;
    for (auto& writer : writers_) {
      if (!writer->write_layer_sizes(out)) ok = false;
    }
    for (auto& writer : writers_) {
      if (!writer->write_layers(out)) ok = false;
    }
  } else if (!encoder_->done()) {
    ok = false;
  }
  return ok;
}
