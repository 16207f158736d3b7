// The libFuzzer entry points of one fuzz target; FUZZ_TARGET names the
// check it runs (see checks/fuzzchecks.h).

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "checks/fuzzchecks.h"

namespace {

FuzzCheckFunction check = nullptr;
std::unique_ptr<QTemporaryDir> scratch;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    silenceQtMessages();
    check = fuzzCheck(QStringLiteral(FUZZ_TARGET));
    // Under the TMPDIR the caller gives, so that nothing lands in the
    // machine's shared temporary folder.
    scratch = std::make_unique<QTemporaryDir>(QDir::tempPath()
                                              + QStringLiteral("/" FUZZ_TARGET "-XXXXXX"));
    if (!check || !scratch->isValid()) {
        std::fprintf(stderr, "%s: cannot set up the fuzz target\n", FUZZ_TARGET);
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input =
            QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const QString broken = check(input, scratch->path());
    if (!broken.isEmpty()) {
        std::fprintf(stderr, "%s: rule broken: %s\n", FUZZ_TARGET, qPrintable(broken));
        std::abort();
    }
    return 0;
}
