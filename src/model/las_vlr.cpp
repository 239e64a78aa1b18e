#include "model/las_vlr.hpp"

#include <cstring>

std::optional<LASvlrWavePacketDescriptor> LASvlrWavePacketDescriptor::unpack(
    const std::uint8_t* payload, std::size_t size) {
  if (payload == nullptr || size < kWavePacketDescriptorSize) return std::nullopt;
  LASvlrWavePacketDescriptor descriptor;
  descriptor.bits_per_sample = payload[0];
  descriptor.compression_type = payload[1];
  std::memcpy(&descriptor.number_of_samples, payload + 2, 4);
  std::memcpy(&descriptor.temporal_sample_spacing, payload + 6, 4);
  std::memcpy(&descriptor.digitizer_gain, payload + 10, 8);
  std::memcpy(&descriptor.digitizer_offset, payload + 18, 8);
  return descriptor;
}

std::vector<std::uint8_t> LASvlrWavePacketDescriptor::pack() const {
  std::vector<std::uint8_t> payload(kWavePacketDescriptorSize);
  payload[0] = bits_per_sample;
  payload[1] = compression_type;
  std::memcpy(payload.data() + 2, &number_of_samples, 4);
  std::memcpy(payload.data() + 6, &temporal_sample_spacing, 4);
  std::memcpy(payload.data() + 10, &digitizer_gain, 8);
  std::memcpy(payload.data() + 18, &digitizer_offset, 8);
  return payload;
}
