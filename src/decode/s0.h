// The adapter's two S0 impulse inputs: impulse counts to watt-hours.
#pragma once

#include <cstddef>
#include <cstdint>

namespace decode {

constexpr std::int32_t kDefaultImpulsesPerKwh = 1000;
constexpr std::size_t kS0ValueSize = 24;  // the decimal text of a 64-bit count + NUL

// Energy in Wh of `count` impulses at `imp` impulses per kWh: floor(count *
// 1000 / imp), formed in 64 bits so it never wraps. A rate of 0 or below
// counts as the default 1000.
std::uint64_t scale_to_wh(std::uint32_t count, std::int32_t imp);

// The rate of a channel from its configuration field: the number the field
// begins with, or the default 1000 for an empty field and for a number that
// is 0 or less or does not fit 32 bits.
std::int32_t impulse_rate(const char *field);

// The energy of the count text `count` (read as by atol; the adapter's
// counter is 32 bits wide) at rate `imp`; its decimal text goes into `value`
// (`size` bytes). Returns the energy.
std::uint64_t decode_s0(const char *count, std::int32_t imp, char *value, std::size_t size);

}  // namespace decode
