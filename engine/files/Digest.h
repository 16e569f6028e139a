// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace vexalo {

// The digest of every byte a run writes, which Undo compares before it puts
// a file back: XXH3, 128 bits. Blake2b, the fastest digest Qt offers, made a
// run over many small files 1.8 times as slow; XXH3 runs at memory speed.
// It need not resist forgery: a file made to collide on purpose would only
// get back its old content, which whoever wrote it could have put there.
class Digest {
public:
    Digest();
    ~Digest();
    Digest(const Digest &) = delete;
    Digest &operator=(const Digest &) = delete;

    void addData(QByteArrayView bytes);
    // 16 bytes; empty where the digest could not be made (no memory).
    QByteArray result() const;
    static QByteArray of(QByteArrayView bytes);

private:
    void *m_state;
};

} // namespace vexalo
