// The libFuzzer entry points of one fuzz target; FUZZ_TARGET names its check.

#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "checks/fuzzchecks.h"

static const FuzzCheck *check = nullptr;
static QTemporaryDir *scratch = nullptr; // under the caller's TMPDIR, for the whole run

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The code under test logs on most paths; the fuzzer's output stays readable.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    for (const FuzzCheck &candidate : fuzzChecks)
        check = std::strcmp(candidate.target, FUZZ_TARGET) == 0 ? &candidate : check;
    scratch = new QTemporaryDir;
    return check && scratch->isValid() ? 0 : (std::abort(), 0);
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size)
{
    const QString broken = check->run(QByteArray(reinterpret_cast<const char *>(data), int(size)),
                                      scratch->path());
    if (!broken.isEmpty()) {
        std::fprintf(stderr, "%s: rule broken: %s\n", FUZZ_TARGET, qPrintable(broken));
        std::abort();
    }
    return 0;
}
