#pragma once
// The platform's algorithm providers (CNG, bcrypt.dll), one per algorithm for
// the whole program: each is opened at first use and kept for the life of the
// process, as opening one costs far more than a hash or a verification.
// Header-only, without exceptions, heap or run-time type information, so the
// self-upgrade stub shares them too. Safe from any thread. Link bcrypt.

#include <windows.h>
#include <bcrypt.h>

#include <atomic>

namespace cng_detail {

// Null when the platform refuses (the next call tries again); `status`, when
// given, receives the refusal's code. Two first users at once may both open a
// provider: one keeps it, the other's is closed.
inline BCRYPT_ALG_HANDLE Shared(std::atomic<BCRYPT_ALG_HANDLE>& slot, const wchar_t* algorithm, NTSTATUS* status)
{
    BCRYPT_ALG_HANDLE opened = slot.load(std::memory_order_acquire);
    if (opened)
        return opened;
    const NTSTATUS result = BCryptOpenAlgorithmProvider(&opened, algorithm, nullptr, 0);
    if (status)
        *status = result;
    if (!BCRYPT_SUCCESS(result))
        return nullptr;
    BCRYPT_ALG_HANDLE kept = nullptr;
    if (slot.compare_exchange_strong(kept, opened, std::memory_order_acq_rel))
        return opened;
    BCryptCloseAlgorithmProvider(opened, 0);
    return kept;
}

}  // namespace cng_detail

inline BCRYPT_ALG_HANDLE Sha256Provider(NTSTATUS* status = nullptr)
{
    static constinit std::atomic<BCRYPT_ALG_HANDLE> slot{nullptr};
    return cng_detail::Shared(slot, BCRYPT_SHA256_ALGORITHM, status);
}

inline BCRYPT_ALG_HANDLE EcdsaP256Provider(NTSTATUS* status = nullptr)
{
    static constinit std::atomic<BCRYPT_ALG_HANDLE> slot{nullptr};
    return cng_detail::Shared(slot, BCRYPT_ECDSA_P256_ALGORITHM, status);
}
