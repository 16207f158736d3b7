#include "childprogram.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace TestSupport {

namespace {

// The ELF e_machine field of an executable file, or -1 when the file is no
// ELF file (a script, a missing file). e_machine sits at offset 18 in both
// 32- and 64-bit headers, in the byte order that byte 5 names.
int elfMachine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray header = file.read(20);
    if (header.size() < 20 || !header.startsWith("\x7f" "ELF"))
        return -1;
    const auto low = static_cast<unsigned char>(header.at(18));
    const auto high = static_cast<unsigned char>(header.at(19));
    const bool bigEndian = header.at(5) == 2;
    return bigEndian ? (low << 8) | high : (high << 8) | low;
}

QString resolvedProgram(const QString &program)
{
    if (program.contains(QLatin1Char('/')))
        return QFileInfo(program).absoluteFilePath();
    return QStandardPaths::findExecutable(program);
}

} // namespace

QStringList childEmulator()
{
#ifdef TESSALY_CROSSCOMPILING_EMULATOR
    return QStringLiteral(TESSALY_CROSSCOMPILING_EMULATOR).split(QLatin1Char('|'), Qt::SkipEmptyParts);
#else
    return {};
#endif
}

QStringList childCommand(const QString &program, const QStringList &arguments)
{
    return commandThroughEmulator(childEmulator(), program, arguments);
}

QStringList commandThroughEmulator(const QStringList &emulator, const QString &program,
                                   const QStringList &arguments)
{
    if (!emulator.isEmpty()) {
        // The emulator shows the emulated test binary as /proc/self/exe, so
        // this compares against the machine the test itself was built for.
        const int ownMachine = elfMachine(QStringLiteral("/proc/self/exe"));
        const QString resolved = resolvedProgram(program);
        // A path is handed on as given (QProcess resolves a relative one in
        // the child's working folder, and so does the emulator); a bare name
        // is looked up here, as the emulator does not search PATH.
        const QString path = program.contains(QLatin1Char('/')) ? program : resolved;
        if (ownMachine != -1 && !resolved.isEmpty() && elfMachine(resolved) == ownMachine)
            return emulator + QStringList { path } + arguments;
    }
    return QStringList { program } + arguments;
}

QString childShellCommand(const QString &program, const QStringList &arguments)
{
    return shellCommandLine(childCommand(program, arguments));
}

QString shellCommandLine(const QStringList &command)
{
    QStringList quoted;
    quoted.reserve(command.size());
    for (QString word : command) {
        word.replace(QLatin1Char('\''), QLatin1String("'\\''"));
        quoted << QLatin1Char('\'') + word + QLatin1Char('\'');
    }
    return quoted.join(QLatin1Char(' '));
}

void startChild(QProcess &process, const QString &program, const QStringList &arguments,
                QIODevice::OpenMode mode)
{
    const QStringList command = childCommand(program, arguments);
    process.start(command.first(), command.mid(1), mode);
}

} // namespace TestSupport
