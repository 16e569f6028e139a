// SPDX-License-Identifier: MIT
#include "engine/files/Digest.h"

#include <xxhash.h>
#ifdef VEXALO_XXHASH_DISPATCH
// Renames the calls below to the library's entry points that choose the
// processor's widest vectors: a large file's digest is otherwise a tenth of
// its run.
#include <xxh_x86dispatch.h>
#endif

namespace vexalo {

namespace {

QByteArray canonical(XXH128_hash_t hash)
{
    XXH128_canonical_t bytes;
    XXH128_canonicalFromHash(&bytes, hash);
    return QByteArray(reinterpret_cast<const char *>(bytes.digest), sizeof bytes.digest);
}

XXH3_state_t *state(void *p)
{
    return static_cast<XXH3_state_t *>(p);
}

} // namespace

Digest::Digest()
    : m_state(XXH3_createState())
{
    if (m_state)
        XXH3_128bits_reset(state(m_state));
}

Digest::~Digest()
{
    XXH3_freeState(state(m_state));
}

void Digest::addData(QByteArrayView bytes)
{
    if (m_state)
        XXH3_128bits_update(state(m_state), bytes.data(), size_t(bytes.size()));
}

QByteArray Digest::result() const
{
    return m_state ? canonical(XXH3_128bits_digest(state(m_state))) : QByteArray();
}

QByteArray Digest::of(QByteArrayView bytes)
{
    return canonical(XXH3_128bits(bytes.data(), size_t(bytes.size())));
}

} // namespace vexalo
