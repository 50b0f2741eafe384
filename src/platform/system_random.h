// Random numbers from the system's preferred generator (bcrypt.dll, loaded
// from the system folder on first use).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include <boost/uuid/uuid.hpp>

// Fills `size` bytes; raises std::system_error (system category, the
// HRESULT of the generator's status) when the generator is not available.
void system_random_bytes(void* buffer, std::size_t size);

// A uniform random bit generator over system_random_bytes, for Boost.UUID's
// basic_random_generator and the standard distributions.
class system_random_engine {
public:
    using result_type = std::uint32_t;
    static constexpr result_type min() { return 0; }
    static constexpr result_type max() { return std::numeric_limits<result_type>::max(); }
    result_type operator()();
};

// A version 4 (random) UUID.
boost::uuids::uuid random_uuid();
