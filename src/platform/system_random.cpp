#include "platform/system_random.h"

#include "platform/system_library.h"

#include <windows.h>

#include <bcrypt.h>

#include <memory>
#include <system_error>

#include <boost/uuid/random_generator.hpp>

namespace {

struct random_library {
    system_module module{L"bcrypt.dll"};
    decltype(BCryptGenRandom)* generate = module.function<decltype(BCryptGenRandom)>("BCryptGenRandom");
};

const random_library& random_api()
{
    static const random_library library;
    return library;
}

}

void system_random_bytes(void* buffer, std::size_t size)
{
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size) {
        const ULONG chunk = size > 0x10000000 ? 0x10000000 : static_cast<ULONG>(size);
        const NTSTATUS status = random_api().generate(nullptr, bytes, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (status < 0)
            throw std::system_error(static_cast<int>(HRESULT_FROM_NT(status)), std::system_category(),
                                    "BCryptGenRandom");
        bytes += chunk;
        size -= chunk;
    }
}

system_random_engine::result_type system_random_engine::operator()()
{
    result_type value;
    system_random_bytes(&value, sizeof value);
    return value;
}

boost::uuids::uuid random_uuid()
{
    system_random_engine engine;
    return boost::uuids::basic_random_generator<system_random_engine>(engine)();
}
