#include "codec/item_point14_layered.hpp"

#include <cstring>
#include <vector>

#include "codec/integer_coder.hpp"
#include "codec/layered_tables.hpp"
#include "codec/running_median.hpp"
#include "model/las_point.hpp"
#include "stream/bytestream_in.hpp"
#include "stream/bytestream_out.hpp"

namespace {

enum Layer : std::uint32_t {
  LAYER_XY = 0,  // change symbol, channel, returns, X, Y
  LAYER_Z,
  LAYER_CLASSIFICATION,
  LAYER_FLAGS,
  LAYER_INTENSITY,
  LAYER_SCAN_ANGLE,
  LAYER_USER_DATA,
  LAYER_POINT_SOURCE,
  LAYER_GPS_TIME,
};

// Bits of the change symbol.
constexpr std::uint32_t kChannelChanged = 1u << 6;
constexpr std::uint32_t kPointSourceChanged = 1u << 5;
constexpr std::uint32_t kGpsTimeChanged = 1u << 4;
constexpr std::uint32_t kScanAngleChanged = 1u << 3;
constexpr std::uint32_t kNumberOfReturnsChanged = 1u << 2;
constexpr std::uint32_t kReturnRelation = 3;  // 0 same, 1 next, 2 previous, 3 coded

// Symbols of the GPS time coding. Without a known step: 0 a 32-bit difference, 1 a full
// time, 2-4 a switch to the sequence 1-3 ahead. With a step: 0-510 multipliers (0, 1..499
// times, 500 for larger, 501-509 for -1..-9, 510 for -10 and below), 511 a full time,
// 512-514 a switch.
constexpr std::uint32_t kGpsZeroSymbols = 5;
constexpr std::uint32_t kGpsFullTimeNoStep = 1;
constexpr std::uint32_t kGpsMultiplierSymbols = 515;
constexpr std::uint32_t kGpsMultiplierMax = 500;
constexpr std::uint32_t kGpsMultiplierMinusTen = 510;
constexpr std::uint32_t kGpsFullTime = 511;
constexpr std::int32_t kGpsMissesBeforeNewStep = 3;
// Contexts of the GPS time integer coder.
enum GpsContext : std::uint32_t {
  GPS_FIRST_STEP = 0,
  GPS_SAME_STEP,
  GPS_FEW_STEPS,
  GPS_MANY_STEPS,
  GPS_HUGE_STEP,
  GPS_BACKWARDS,
  GPS_FAR_BACKWARDS,
  GPS_ZERO_MULTIPLE,
  GPS_HIGH_HALF,
  GPS_CONTEXTS
};

bool fits_32_bits(std::int64_t difference) {
  return difference == static_cast<std::int32_t>(difference);
}

std::int32_t wrapping_multiple(std::int32_t multiplier, std::int32_t step) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(multiplier) *
                                   static_cast<std::uint32_t>(step));
}

// The step multiplier of a time difference: d / D in single precision, rounded half away
// from zero as the float sum of the quotient and one half. Quotients beyond the coded range
// are clamped first (they code the same symbol) so the conversion never overflows.
std::int32_t gps_multiplier(std::int32_t difference, std::int32_t step) {
  const float quotient = static_cast<float>(difference) / static_cast<float>(step);
  if (quotient >= static_cast<float>(kGpsMultiplierMax)) return kGpsMultiplierMax;
  if (quotient <= -10.0f) return -10;
  return quotient >= 0.0f ? static_cast<std::int32_t>(quotient + 0.5f)
                          : static_cast<std::int32_t>(quotient - 0.5f);
}

// The record as stored (the first point of a chunk, without a point to read it into).
Point14Item item_from_record(const std::uint8_t* bytes) {
  Point14Item item;
  std::memcpy(&item.X, bytes + 0, 4);
  std::memcpy(&item.Y, bytes + 4, 4);
  std::memcpy(&item.Z, bytes + 8, 4);
  std::memcpy(&item.intensity, bytes + 12, 2);
  item.returns = bytes[14];
  item.flags = bytes[15];
  item.classification = bytes[16];
  item.user_data = bytes[17];
  std::memcpy(&item.scan_angle, bytes + 18, 2);
  std::memcpy(&item.point_source_ID, bytes + 20, 2);
  std::memcpy(&item.gps_time, bytes + 22, 8);
  return item;
}

// What the raw POINT14 writer would store for the point: the one view of a point that both
// the raw first point of a chunk and the coded points share.
Point14Item item_from_point(const LASpoint& point) {
  std::uint8_t bytes[kPoint14Size];
  point.write_point14(bytes);
  return item_from_record(bytes);
}

// The record as the raw reader left it in the point's extended fields (the first point of a
// chunk).
Point14Item item_from_read_point(const LASpoint& point) {
  Point14Item item;
  item.X = point.X;
  item.Y = point.Y;
  item.Z = point.Z;
  item.intensity = point.intensity;
  item.returns = static_cast<std::uint8_t>(point.extended_return_number |
                                           (point.extended_number_of_returns << 4));
  item.flags = static_cast<std::uint8_t>(
      point.extended_classification_flags | (point.extended_scanner_channel << 4) |
      (point.scan_direction_flag << 6) | (point.edge_of_flight_line << 7));
  item.classification = point.extended_classification;
  item.user_data = point.user_data;
  item.scan_angle = point.extended_scan_angle;
  item.point_source_ID = point.point_source_ID;
  std::memcpy(&item.gps_time, &point.gps_time, 8);
  return item;
}

// The record as stored.
void item_to_record(const Point14Item& item, std::uint8_t* bytes) {
  std::memcpy(bytes + 0, &item.X, 4);
  std::memcpy(bytes + 4, &item.Y, 4);
  std::memcpy(bytes + 8, &item.Z, 4);
  std::memcpy(bytes + 12, &item.intensity, 2);
  bytes[14] = item.returns;
  bytes[15] = item.flags;
  bytes[16] = item.classification;
  bytes[17] = item.user_data;
  std::memcpy(bytes + 18, &item.scan_angle, 2);
  std::memcpy(bytes + 20, &item.point_source_ID, 2);
  std::memcpy(bytes + 22, &item.gps_time, 8);
}

// Into the point as the raw POINT14 reader fills it, legacy fields derived.
void item_to_point(const Point14Item& item, LASpoint& point) {
  std::uint8_t bytes[kPoint14Size];
  item_to_record(item, bytes);
  point.read_point14(bytes);
}

// 0 same return number, 1 the next, 2 the previous (modulo 16), 3 another.
std::uint32_t return_relation(std::uint32_t r, std::uint32_t last_r) {
  if (r == last_r) return 0;
  if (r == ((last_r + 1) & 0x0F)) return 1;
  if (r == ((last_r + 15) & 0x0F)) return 2;
  return 3;
}

std::uint32_t change_mask_model(const Point14Item& last) {
  const std::uint32_t r = last.return_number();
  return (r == 1 ? 1u : 0u) + (r >= last.number_of_returns() ? 2u : 0u) +
         (last.gps_time_changed ? 4u : 0u);
}

std::uint32_t dy_context(std::uint32_t k, std::uint32_t n) {
  return (k < 20 ? (k & ~1u) : 20u) + (n == 1 ? 1u : 0u);
}

std::uint32_t z_context(std::uint32_t k, std::uint32_t n) {
  return (k < 36 ? (k / 4) * 2 : 18u) + (n == 1 ? 1u : 0u);
}

}  // namespace

// The predictions of one scanner channel. Models that only some data needs are made on
// first use and kept (reset at every initialisation of the context) so that a chunk pays
// for the alphabets it uses.
template <class Coder>
struct Point14Context {
  Point14Context(const std::array<Coder*, kPoint14Layers>& coders, bool encoding)
      : encoding(encoding),
        channel_step(3, encoding),
        return_index_same_time(13, encoding),
        dx(coders[LAYER_XY], 32, 2),
        dy(coders[LAYER_XY], 32, 22),
        z(coders[LAYER_Z], 32, 20),
        intensity(coders[LAYER_INTENSITY], 16, 4),
        scan_angle(coders[LAYER_SCAN_ANGLE], 16, 2),
        point_source(coders[LAYER_POINT_SOURCE], 16, 1),
        gps(coders[LAYER_GPS_TIME], 32, GPS_CONTEXTS),
        gps_multiplier(kGpsMultiplierSymbols, encoding),
        gps_zero(kGpsZeroSymbols, encoding) {
    change_mask.reserve(8);
    for (int i = 0; i < 8; i++)
      change_mask.emplace_back(128, encoding);
  }

  // Starts the context over from `item`.
  void init(const Point14Item& item) {
    for (SymbolModel& model : change_mask)
      model.init();
    channel_step.init();
    return_index_same_time.init();
    for (auto* set : {&returns_count, &return_index})
      for (auto& model : *set)
        if (model) model->init();
    for (auto* set : {&class_models, &flag_models, &user_data_models})
      for (auto& model : *set)
        if (model) model->init();
    for (int i = 0; i < 12; i++) {
      dx_median[i].reset();
      dy_median[i].reset();
    }
    for (auto& z_value : z_by_level)
      z_value = item.Z;
    for (auto& value : intensity_by_class)
      value = item.intensity;
    dx.init();
    dy.init();
    z.init();
    intensity.init();
    scan_angle.init();
    point_source.init();
    gps.init();
    gps_multiplier.init();
    gps_zero.init();
    current_seq = newest_seq = 0;
    seq_time[0] = item.gps_time;
    seq_time[1] = seq_time[2] = seq_time[3] = 0;
    for (int i = 0; i < 4; i++) {
      seq_step[i] = 0;
      seq_misses[i] = 0;
    }
    reference = item;
    reference.gps_time_changed = false;
    in_use = true;
  }

  template <std::size_t N>
  SymbolModel& lazy(std::array<std::unique_ptr<SymbolModel>, N>& set, std::uint32_t index,
                    std::uint32_t symbols) {
    std::unique_ptr<SymbolModel>& model = set[index];
    if (!model) {
      model = std::make_unique<SymbolModel>(symbols, encoding);
      model->init();
    }
    return *model;
  }
  SymbolModel& returns_count_model(std::uint32_t last_n) { return lazy(returns_count, last_n, 16); }
  SymbolModel& return_index_model(std::uint32_t last_r) { return lazy(return_index, last_r, 16); }
  SymbolModel& class_model(std::uint32_t index) { return lazy(class_models, index, 256); }
  SymbolModel& flag_model(std::uint32_t last_flags) { return lazy(flag_models, last_flags, 64); }
  SymbolModel& user_data_model(std::uint32_t index) { return lazy(user_data_models, index, 256); }

  bool encoding;
  bool in_use = false;
  Point14Item reference;

  std::vector<SymbolModel> change_mask;  // by the previous point's returns and time change
  SymbolModel channel_step;
  std::array<std::unique_ptr<SymbolModel>, 16> returns_count;  // by the previous n
  std::array<std::unique_ptr<SymbolModel>, 16> return_index;   // by the previous r
  SymbolModel return_index_same_time;

  RunningMedian5 dx_median[12];  // by 2 x return class + time changed
  RunningMedian5 dy_median[12];
  std::int32_t z_by_level[8];
  std::uint16_t intensity_by_class[8];  // by 2 x return position + time changed

  std::array<std::unique_ptr<SymbolModel>, 64> class_models;
  std::array<std::unique_ptr<SymbolModel>, 64> flag_models;
  std::array<std::unique_ptr<SymbolModel>, 64> user_data_models;

  IntegerCoder dx, dy, z, intensity, scan_angle, point_source, gps;

  // Up to four interleaved GPS time sequences (flight lines that alternate within a chunk).
  SymbolModel gps_multiplier;
  SymbolModel gps_zero;
  std::uint32_t current_seq = 0;
  std::uint32_t newest_seq = 0;
  std::uint64_t seq_time[4] = {0, 0, 0, 0};
  std::int32_t seq_step[4] = {0, 0, 0, 0};
  std::int32_t seq_misses[4] = {0, 0, 0, 0};
};

// ---------------------------------------------------------------------------------------
// Writer

LASwriteItemCompressed_POINT14_layered::LASwriteItemCompressed_POINT14_layered(
    std::uint32_t version)
    : context_on_every_point_(version >= 4) {}

LASwriteItemCompressed_POINT14_layered::~LASwriteItemCompressed_POINT14_layered() = default;

void LASwriteItemCompressed_POINT14_layered::init_context(std::uint32_t channel,
                                                          const Point14Item& item) {
  std::unique_ptr<Context>& context = contexts_[channel];
  if (!context) {
    std::array<EntropyEncoder*, kPoint14Layers> coders;
    for (std::uint32_t i = 0; i < kPoint14Layers; i++)
      coders[i] = &layers_[i].encoder;
    context = std::make_unique<Context>(coders, true);
  }
  context->init(item);
}

bool LASwriteItemCompressed_POINT14_layered::init(const std::uint8_t* item,
                                                  std::uint32_t& context) {
  for (LayerOut& layer : layers_)
    layer.start();
  for (auto& each : contexts_)
    if (each) each->in_use = false;
  const Point14Item first = item_from_point(LASpoint::from_item(item));
  current_ = first.scanner_channel();
  init_context(current_, first);
  context = current_;
  return true;
}

bool LASwriteItemCompressed_POINT14_layered::write(const std::uint8_t* item,
                                                   std::uint32_t& context) {
  return write_item(item_from_point(LASpoint::from_item(item)), context);
}

// The item that the raw reader makes of a record is the record: see write.
bool LASwriteItemCompressed_POINT14_layered::write_raw(const std::uint8_t* record,
                                                       std::uint32_t& context) {
  return write_item(item_from_record(record), context);
}

bool LASwriteItemCompressed_POINT14_layered::write_item(const Point14Item& p,
                                                        std::uint32_t& context) {
  Context* ctx = contexts_[current_].get();
  const Point14Item* q = &ctx->reference;
  SymbolModel& change_model = ctx->change_mask[change_mask_model(*q)];

  // A point of another channel is predicted from that channel's last point, if it had one.
  const std::uint32_t channel = p.scanner_channel();
  const bool channel_changed = channel != current_;
  if (channel_changed && contexts_[channel] && contexts_[channel]->in_use) {
    q = &contexts_[channel]->reference;
  }
  const std::uint32_t r = p.return_number();
  const std::uint32_t n = p.number_of_returns();
  const std::uint32_t last_r = q->return_number();
  const std::uint32_t last_n = q->number_of_returns();
  // Bit patterns, not doubles: -0.0 and +0.0 differ, and a NaN equals its own copy.
  const bool gps_time_changed = p.gps_time != q->gps_time;
  const std::uint32_t relation = return_relation(r, last_r);
  const std::uint32_t change = (channel_changed ? kChannelChanged : 0) |
                               (p.point_source_ID != q->point_source_ID ? kPointSourceChanged : 0) |
                               (gps_time_changed ? kGpsTimeChanged : 0) |
                               (p.scan_angle != q->scan_angle ? kScanAngleChanged : 0) |
                               (n != last_n ? kNumberOfReturnsChanged : 0) | relation;
  EntropyEncoder& xy = layers_[LAYER_XY].encoder;
  xy.encode_symbol(change_model, change);

  if (channel_changed) {
    xy.encode_symbol(ctx->channel_step, (channel - current_ - 1) & 3);
    if (!contexts_[channel] || !contexts_[channel]->in_use) {
      init_context(channel, ctx->reference);
      q = &contexts_[channel]->reference;
    }
    current_ = channel;
    ctx = contexts_[channel].get();
    context = channel;
  }
  if (context_on_every_point_) context = current_;

  if (change & kNumberOfReturnsChanged) xy.encode_symbol(ctx->returns_count_model(last_n), n);
  if (relation == 3) {
    if (gps_time_changed) {
      xy.encode_symbol(ctx->return_index_model(last_r), r);
    } else {
      xy.encode_symbol(ctx->return_index_same_time, (r - last_r - 2) & 0x0F);
    }
  }

  const std::uint32_t t = gps_time_changed ? 1 : 0;
  const std::uint32_t median = 2 * kReturnClass6[n][r] + t;
  const std::int32_t dx =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(p.X) - static_cast<std::uint32_t>(q->X));
  ctx->dx.compress(ctx->dx_median[median].get(), dx, n == 1 ? 1 : 0);
  ctx->dx_median[median].add(dx);
  const std::uint32_t kx = ctx->dx.get_k();
  const std::int32_t dy =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(p.Y) - static_cast<std::uint32_t>(q->Y));
  ctx->dy.compress(ctx->dy_median[median].get(), dy, dy_context(kx, n));
  ctx->dy_median[median].add(dy);
  const std::uint32_t level = return_level8(n, r);
  ctx->z.compress(ctx->z_by_level[level], p.Z, z_context(kx + ctx->dy.get_k(), n));
  ctx->z_by_level[level] = p.Z;

  const std::uint32_t position = return_position(r, n);
  if (p.classification != q->classification) layers_[LAYER_CLASSIFICATION].changed = true;
  layers_[LAYER_CLASSIFICATION].encoder.encode_symbol(
      ctx->class_model(class_model_index(q->classification, position)), p.classification);

  const std::uint32_t flags = p.flag_value();
  const std::uint32_t last_flags = q->flag_value();
  if (flags != last_flags) layers_[LAYER_FLAGS].changed = true;
  layers_[LAYER_FLAGS].encoder.encode_symbol(ctx->flag_model(last_flags), flags);

  if (p.intensity != q->intensity) layers_[LAYER_INTENSITY].changed = true;
  std::uint16_t& intensity_prediction = ctx->intensity_by_class[2 * position + t];
  ctx->intensity.compress(intensity_prediction, p.intensity, position);
  intensity_prediction = p.intensity;

  if (change & kScanAngleChanged) {
    layers_[LAYER_SCAN_ANGLE].changed = true;
    ctx->scan_angle.compress(q->scan_angle, p.scan_angle, t);
  }

  if (p.user_data != q->user_data) layers_[LAYER_USER_DATA].changed = true;
  layers_[LAYER_USER_DATA].encoder.encode_symbol(ctx->user_data_model(q->user_data / 4),
                                                 p.user_data);

  if (change & kPointSourceChanged) {
    layers_[LAYER_POINT_SOURCE].changed = true;
    ctx->point_source.compress(q->point_source_ID, p.point_source_ID, 0);
  }

  if (gps_time_changed) {
    layers_[LAYER_GPS_TIME].changed = true;
    write_gps_time(*ctx, p.gps_time);
  }

  ctx->reference = p;
  ctx->reference.gps_time_changed = gps_time_changed;
  return true;
}

void LASwriteItemCompressed_POINT14_layered::write_gps_time(Context& ctx, std::uint64_t time) {
  EntropyEncoder& encoder = layers_[LAYER_GPS_TIME].encoder;
  for (;;) {
    std::uint32_t& seq = ctx.current_seq;
    const std::int64_t difference = static_cast<std::int64_t>(time - ctx.seq_time[seq]);
    const bool fits = fits_32_bits(difference);
    const std::int32_t d = static_cast<std::int32_t>(difference);
    std::int32_t& step = ctx.seq_step[seq];
    std::int32_t& misses = ctx.seq_misses[seq];
    const std::uint32_t switch_base = step == 0 ? 1 : kGpsFullTime;
    if (fits) {
      if (step == 0) {
        encoder.encode_symbol(ctx.gps_zero, 0);
        ctx.gps.compress(0, d, GPS_FIRST_STEP);
        step = d;
        misses = 0;
      } else {
        const std::int32_t multiplier = gps_multiplier(d, step);
        bool missed = false;
        if (multiplier == 1) {
          encoder.encode_symbol(ctx.gps_multiplier, 1);
          ctx.gps.compress(step, d, GPS_SAME_STEP);
          misses = 0;
        } else if (multiplier > 1) {
          if (multiplier < static_cast<std::int32_t>(kGpsMultiplierMax)) {
            encoder.encode_symbol(ctx.gps_multiplier, static_cast<std::uint32_t>(multiplier));
            ctx.gps.compress(wrapping_multiple(multiplier, step), d,
                             multiplier < 10 ? GPS_FEW_STEPS : GPS_MANY_STEPS);
          } else {
            encoder.encode_symbol(ctx.gps_multiplier, kGpsMultiplierMax);
            ctx.gps.compress(wrapping_multiple(kGpsMultiplierMax, step), d, GPS_HUGE_STEP);
            missed = true;
          }
        } else if (multiplier < 0) {
          if (multiplier > -10) {
            encoder.encode_symbol(ctx.gps_multiplier,
                                  static_cast<std::uint32_t>(kGpsMultiplierMax - multiplier));
            ctx.gps.compress(wrapping_multiple(multiplier, step), d, GPS_BACKWARDS);
          } else {
            encoder.encode_symbol(ctx.gps_multiplier, kGpsMultiplierMinusTen);
            ctx.gps.compress(wrapping_multiple(-10, step), d, GPS_FAR_BACKWARDS);
            missed = true;
          }
        } else {
          encoder.encode_symbol(ctx.gps_multiplier, 0);
          ctx.gps.compress(0, d, GPS_ZERO_MULTIPLE);
          missed = true;
        }
        // A step that keeps missing is replaced by the latest difference.
        if (missed && ++misses > kGpsMissesBeforeNewStep) {
          step = d;
          misses = 0;
        }
      }
      ctx.seq_time[seq] = time;
      return;
    }
    // Another sequence close enough? Then code against it.
    std::uint32_t ahead = 1;
    for (; ahead < 4; ahead++) {
      if (fits_32_bits(static_cast<std::int64_t>(time - ctx.seq_time[(seq + ahead) & 3]))) break;
    }
    if (ahead < 4) {
      encoder.encode_symbol(step == 0 ? ctx.gps_zero : ctx.gps_multiplier, switch_base + ahead);
      seq = (seq + ahead) & 3;
      continue;
    }
    // A new sequence starts with the full time.
    encoder.encode_symbol(step == 0 ? ctx.gps_zero : ctx.gps_multiplier,
                          step == 0 ? kGpsFullTimeNoStep : kGpsFullTime);
    ctx.gps.compress(static_cast<std::int32_t>(ctx.seq_time[seq] >> 32),
                     static_cast<std::int32_t>(time >> 32), GPS_HIGH_HALF);
    encoder.write_int(static_cast<std::uint32_t>(time));
    ctx.newest_seq = (ctx.newest_seq + 1) & 3;
    seq = ctx.newest_seq;
    ctx.seq_step[seq] = 0;
    ctx.seq_misses[seq] = 0;
    ctx.seq_time[seq] = time;
    return;
  }
}

bool LASwriteItemCompressed_POINT14_layered::write_layer_sizes(ByteStreamOut& stream) {
  bool ok = true;
  bool keep[kPoint14Layers];
  for (std::uint32_t i = 0; i < kPoint14Layers; i++) {
    keep[i] = kept(i);
    if (keep[i] && !layers_[i].finish()) ok = false;
  }
  return ::write_layer_sizes(stream, layers_, keep) && ok;
}

bool LASwriteItemCompressed_POINT14_layered::write_layers(ByteStreamOut& stream) {
  bool keep[kPoint14Layers];
  for (std::uint32_t i = 0; i < kPoint14Layers; i++)
    keep[i] = kept(i);
  return write_layer_bytes(stream, layers_, keep);
}

// ---------------------------------------------------------------------------------------
// Reader

LASreadItemCompressed_POINT14_layered::LASreadItemCompressed_POINT14_layered(
    std::uint32_t version, std::uint32_t decompress_selective)
    : context_on_every_point_(version >= 4) {
  // Layer 0 is always decoded; layers 1-8 by flag bits 0-7.
  for (std::uint32_t i = 1; i < kPoint14Layers; i++) {
    layers_[i].requested = (decompress_selective & (1u << (i - 1))) != 0;
  }
}

LASreadItemCompressed_POINT14_layered::~LASreadItemCompressed_POINT14_layered() = default;

void LASreadItemCompressed_POINT14_layered::init_context(std::uint32_t channel,
                                                         const Point14Item& item) {
  std::unique_ptr<Context>& context = contexts_[channel];
  if (!context) {
    std::array<EntropyDecoder*, kPoint14Layers> coders;
    for (std::uint32_t i = 0; i < kPoint14Layers; i++)
      coders[i] = &layers_[i].decoder;
    context = std::make_unique<Context>(coders, false);
  }
  context->init(item);
}

bool LASreadItemCompressed_POINT14_layered::read_layer_sizes(ByteStreamIn& stream) {
  for (LayerIn& layer : layers_)
    stream.read32_le(&layer.size);
  return true;
}

bool LASreadItemCompressed_POINT14_layered::init(ByteStreamIn& stream, const std::uint8_t* item,
                                                 std::uint32_t& context) {
  if (!buffer_.load(stream, layers_)) return false;
  // Every point has a change symbol: a chunk without layer 0 was not written by an encoder.
  if (!layers_[LAYER_XY].present) return false;
  for (auto& each : contexts_)
    if (each) each->in_use = false;
  const Point14Item first = item_from_read_point(LASpoint::from_item(item));
  current_ = first.scanner_channel();
  init_context(current_, first);
  context = current_;
  return true;
}

bool LASreadItemCompressed_POINT14_layered::init_record(ByteStreamIn& stream,
                                                        const std::uint8_t* record,
                                                        std::uint32_t& context) {
  if (!buffer_.load(stream, layers_)) return false;
  if (!layers_[LAYER_XY].present) return false;
  for (auto& each : contexts_)
    if (each) each->in_use = false;
  const Point14Item first = item_from_record(record);
  current_ = first.scanner_channel();
  init_context(current_, first);
  context = current_;
  return true;
}

const Point14Item& LASreadItemCompressed_POINT14_layered::read_item(std::uint32_t& context) {
  Point14Item* q;
  try {
    read_point(q, context);
  } catch (const ByteStreamEndOfData&) {
    // The layers are in memory: running out of one means its sizes or bytes are damaged.
    throw CodecCorruptData{};
  }
  return *q;
}

void LASreadItemCompressed_POINT14_layered::read(std::uint8_t* item, std::uint32_t& context) {
  item_to_point(read_item(context), LASpoint::from_item(item));
}

// The point's record is its item as stored: read_point14 then write_point14 give back every
// byte of a record, so this is what the raw writer makes of the point `read` fills.
void LASreadItemCompressed_POINT14_layered::read_raw(std::uint8_t* record, std::uint32_t& context) {
  item_to_record(read_item(context), record);
}

void LASreadItemCompressed_POINT14_layered::read_point(Point14Item*& reference,
                                                       std::uint32_t& context) {
  Context* ctx = contexts_[current_].get();
  // The first layer's interval stays in registers from the change symbol to Y.
  EntropyDecoder::Live xy(layers_[LAYER_XY].decoder);
  const std::uint32_t change =
      xy.decode_symbol(ctx->change_mask[change_mask_model(ctx->reference)]);

  if (change & kChannelChanged) {
    const std::uint32_t channel = (current_ + xy.decode_symbol(ctx->channel_step) + 1) & 3;
    if (!contexts_[channel] || !contexts_[channel]->in_use) init_context(channel, ctx->reference);
    current_ = channel;
    ctx = contexts_[channel].get();
    ctx->reference.flags =
        static_cast<std::uint8_t>((ctx->reference.flags & 0xCF) | (channel << 4));
    context = channel;
  }
  if (context_on_every_point_) context = current_;

  // The point is decoded in place of its reference: every field is predicted from the
  // reference's value before it is overwritten.
  Point14Item& p = ctx->reference;
  reference = &p;
  const std::uint32_t last_r = p.return_number();
  const std::uint32_t last_n = p.number_of_returns();
  std::uint32_t n = last_n;
  if (change & kNumberOfReturnsChanged) n = xy.decode_symbol(ctx->returns_count_model(last_n));
  std::uint32_t r;
  switch (change & kReturnRelation) {
    case 0:
      r = last_r;
      break;
    case 1:
      r = (last_r + 1) & 0x0F;
      break;
    case 2:
      r = (last_r + 15) & 0x0F;
      break;
    default:
      if (change & kGpsTimeChanged) {
        r = xy.decode_symbol(ctx->return_index_model(last_r));
      } else {
        r = (last_r + 2 + xy.decode_symbol(ctx->return_index_same_time)) & 0x0F;
      }
      break;
  }
  p.returns = static_cast<std::uint8_t>(r | (n << 4));

  const bool gps_time_changed = (change & kGpsTimeChanged) != 0;
  const std::uint32_t t = gps_time_changed ? 1 : 0;
  const std::uint32_t median = 2 * kReturnClass6[n][r] + t;
  const std::int32_t dx = ctx->dx.decompress(xy, ctx->dx_median[median].get(), n == 1 ? 1 : 0);
  p.X = static_cast<std::int32_t>(static_cast<std::uint32_t>(p.X) + static_cast<std::uint32_t>(dx));
  ctx->dx_median[median].add(dx);
  const std::uint32_t kx = ctx->dx.get_k();
  const std::int32_t dy = ctx->dy.decompress(xy, ctx->dy_median[median].get(), dy_context(kx, n));
  xy.commit();
  p.Y = static_cast<std::int32_t>(static_cast<std::uint32_t>(p.Y) + static_cast<std::uint32_t>(dy));
  ctx->dy_median[median].add(dy);
  if (layers_[LAYER_Z].present) {
    const std::uint32_t level = return_level8(n, r);
    EntropyDecoder::Live z(layers_[LAYER_Z].decoder);
    p.Z = ctx->z.decompress(z, ctx->z_by_level[level], z_context(kx + ctx->dy.get_k(), n));
    z.commit();
    ctx->z_by_level[level] = p.Z;
  }

  const std::uint32_t position = return_position(r, n);
  if (layers_[LAYER_CLASSIFICATION].present) {
    p.classification =
        static_cast<std::uint8_t>(layers_[LAYER_CLASSIFICATION].decoder.decode_symbol(
            ctx->class_model(class_model_index(p.classification, position))));
  }
  if (layers_[LAYER_FLAGS].present) {
    const std::uint32_t flags =
        layers_[LAYER_FLAGS].decoder.decode_symbol(ctx->flag_model(p.flag_value()));
    p.flags = static_cast<std::uint8_t>((flags & 0x0F) | (p.flags & 0x30) | ((flags >> 4) << 6));
  }
  if (layers_[LAYER_INTENSITY].present) {
    std::uint16_t& prediction = ctx->intensity_by_class[2 * position + t];
    p.intensity = static_cast<std::uint16_t>(ctx->intensity.decompress(prediction, position));
    prediction = p.intensity;
  }
  if ((change & kScanAngleChanged) && layers_[LAYER_SCAN_ANGLE].present) {
    p.scan_angle = static_cast<std::int16_t>(ctx->scan_angle.decompress(p.scan_angle, t));
  }
  if (layers_[LAYER_USER_DATA].present) {
    p.user_data = static_cast<std::uint8_t>(
        layers_[LAYER_USER_DATA].decoder.decode_symbol(ctx->user_data_model(p.user_data / 4)));
  }
  if ((change & kPointSourceChanged) && layers_[LAYER_POINT_SOURCE].present) {
    p.point_source_ID =
        static_cast<std::uint16_t>(ctx->point_source.decompress(p.point_source_ID, 0));
  }
  if (gps_time_changed && layers_[LAYER_GPS_TIME].present) p.gps_time = read_gps_time(*ctx);
  p.gps_time_changed = gps_time_changed;
}

std::uint64_t LASreadItemCompressed_POINT14_layered::read_gps_time(Context& ctx) {
  EntropyDecoder& decoder = layers_[LAYER_GPS_TIME].decoder;
  // An encoder switches sequence at most once per point.
  for (int switches = 0; switches < 2; switches++) {
    std::uint32_t& seq = ctx.current_seq;
    std::int32_t& step = ctx.seq_step[seq];
    std::int32_t& misses = ctx.seq_misses[seq];
    std::uint32_t symbol;
    std::uint32_t full_time_symbol;
    std::uint32_t switch_base;
    if (step == 0) {
      symbol = decoder.decode_symbol(ctx.gps_zero);
      if (symbol == 0) {
        const std::int32_t d = ctx.gps.decompress(0, GPS_FIRST_STEP);
        step = d;
        misses = 0;
        ctx.seq_time[seq] += static_cast<std::uint64_t>(static_cast<std::int64_t>(d));
        return ctx.seq_time[seq];
      }
      full_time_symbol = kGpsFullTimeNoStep;
      switch_base = 1;
    } else {
      symbol = decoder.decode_symbol(ctx.gps_multiplier);
      if (symbol < kGpsFullTime) {
        std::int32_t d;
        bool missed = false;
        if (symbol == 1) {
          d = ctx.gps.decompress(step, GPS_SAME_STEP);
          misses = 0;
        } else if (symbol == 0) {
          d = ctx.gps.decompress(0, GPS_ZERO_MULTIPLE);
          missed = true;
        } else if (symbol < kGpsMultiplierMax) {
          const std::int32_t multiplier = static_cast<std::int32_t>(symbol);
          d = ctx.gps.decompress(wrapping_multiple(multiplier, step),
                                 multiplier < 10 ? GPS_FEW_STEPS : GPS_MANY_STEPS);
        } else if (symbol == kGpsMultiplierMax) {
          d = ctx.gps.decompress(wrapping_multiple(kGpsMultiplierMax, step), GPS_HUGE_STEP);
          missed = true;
        } else if (symbol < kGpsMultiplierMinusTen) {
          const std::int32_t multiplier = static_cast<std::int32_t>(kGpsMultiplierMax - symbol);
          d = ctx.gps.decompress(wrapping_multiple(multiplier, step), GPS_BACKWARDS);
        } else {
          d = ctx.gps.decompress(wrapping_multiple(-10, step), GPS_FAR_BACKWARDS);
          missed = true;
        }
        if (missed && ++misses > kGpsMissesBeforeNewStep) {
          step = d;
          misses = 0;
        }
        ctx.seq_time[seq] += static_cast<std::uint64_t>(static_cast<std::int64_t>(d));
        return ctx.seq_time[seq];
      }
      full_time_symbol = kGpsFullTime;
      switch_base = kGpsFullTime;
    }
    if (symbol == full_time_symbol) {
      const std::uint32_t high = static_cast<std::uint32_t>(
          ctx.gps.decompress(static_cast<std::int32_t>(ctx.seq_time[seq] >> 32), GPS_HIGH_HALF));
      const std::uint32_t low = decoder.read_int();
      ctx.newest_seq = (ctx.newest_seq + 1) & 3;
      seq = ctx.newest_seq;
      ctx.seq_step[seq] = 0;
      ctx.seq_misses[seq] = 0;
      ctx.seq_time[seq] = (static_cast<std::uint64_t>(high) << 32) | low;
      return ctx.seq_time[seq];
    }
    seq = (seq + symbol - switch_base) & 3;
  }
  throw CodecCorruptData{};
}
