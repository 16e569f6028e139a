// SPDX-License-Identifier: MIT
// libFuzzer target: the search and substitution against a plain reference.
// Every input that ever failed here is kept as a case in
// tst_faults_substitutioncases, where it runs with the ordinary tests.
#include "SubstitutionCheck.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    const auto c = vexalo::check::caseFromBytes(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    const QString problem = vexalo::check::checkSubstitution(c);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "substitution check failed: %s\n", qPrintable(problem));
        std::abort();
    }
    return 0;
}
