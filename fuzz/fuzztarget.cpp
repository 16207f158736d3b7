// The libFuzzer entry points of one fuzz target; FUZZ_TARGET names its check.

#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "checks/fuzzchecks.h"

namespace {

FuzzCheckFunction check = nullptr;
QTemporaryDir *scratch = nullptr; // under the caller's TMPDIR, kept for the whole run

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The code under test logs on most paths; the fuzzer's output stays readable.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    for (const FuzzCheck &candidate : fuzzChecks) {
        if (std::strcmp(candidate.target, FUZZ_TARGET) == 0)
            check = candidate.run;
    }
    scratch = new QTemporaryDir;
    if (!check || !scratch->isValid())
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString broken =
            check(QByteArray(reinterpret_cast<const char *>(data), int(size)), scratch->path());
    if (!broken.isEmpty()) {
        std::fprintf(stderr, "%s: rule broken: %s\n", FUZZ_TARGET, qPrintable(broken));
        std::abort();
    }
    return 0;
}
