#include "peerformat.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

#include "common/vovodo_global.h"
#include "peerexitcodes.h"

namespace {

QString escaped(const QString &text, bool escapeQuote)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case '"':
            out += escapeQuote ? QStringLiteral("\\\"") : QStringLiteral("\"");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out;
}

bool integerValue(const QJsonValue &value, int *result)
{
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    if (number != std::floor(number) || std::fabs(number) > 2147483647.0)
        return false;
    *result = int(number);
    return true;
}

QString numberText(double number)
{
    return QString::number(number, 'g', 17);
}

QString unreadable(const char *what, const QString &message)
{
    return QStringLiteral("error unreadable %1 message: %2")
            .arg(QLatin1String(what), escapeForLine(message));
}

} // namespace

QString escapeForLine(const QString &text)
{
    return escaped(text, false);
}

QString quoteForLine(const QString &text)
{
    return QLatin1Char('"') + escaped(text, true) + QLatin1Char('"');
}

QString deliveredLine(const QString &request)
{
    return QStringLiteral("delivered ") + escapeForLine(request);
}

StatusLine describeStatus(const QString &message)
{
    StatusLine result;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8());
    int command = 0;
    if (!document.isObject() || !integerValue(document.object().value(QLatin1String("command")), &command)) {
        result.text = unreadable("status", message);
        return result;
    }
    const QJsonObject object = document.object();

    QString name = UPDATE_COMMANDS_TO_STR.value(UpdateCommands(command));
    if (name.isEmpty())
        name = QString::number(command);
    result.text = QStringLiteral("status ") + name;

    const QJsonValue action = object.value(QLatin1String("action"));
    if (action.isDouble())
        result.text += QStringLiteral(" action=") + numberText(action.toDouble());
    const QJsonValue version = object.value(QLatin1String("version"));
    if (version.isString())
        result.text += QStringLiteral(" version=") + quoteForLine(version.toString());
    const QJsonValue text = object.value(QLatin1String("message"));
    if (text.isString())
        result.text += QStringLiteral(" message=") + escapeForLine(text.toString());

    result.exitCode = exitCodeForCommand(command);
    return result;
}

bool ProgressReport::sizeKnown() const
{
    return kind != Kind::Unreadable && std::isfinite(fraction) && fraction >= 0.0;
}

qint64 ProgressReport::bytesWithoutSize() const
{
    if (kind == Kind::Unreadable || !std::isfinite(fraction) || fraction >= 0.0)
        return -1;
    return qint64(std::llround(-fraction));
}

ProgressReport parseProgress(const QString &message)
{
    ProgressReport report;
    report.text = message;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8());
    if (!document.isObject())
        return report;
    const QJsonObject object = document.object();

    int command = -1;
    if (!integerValue(object.value(QLatin1String("command")), &command))
        return report;
    ProgressReport::Kind kind;
    if (command == DOWNLOAD_PERCENTAGE)
        kind = ProgressReport::Kind::Download;
    else if (command == UPLOAD_PERCENTAGE)
        kind = ProgressReport::Kind::Upload;
    else
        return report;

    // A quotient over a total of 0 is not finite and arrives as null.
    const QJsonValue fraction = object.value(QLatin1String("message"));
    if (fraction.isDouble())
        report.fraction = fraction.toDouble();
    else if (fraction.isNull())
        report.fraction = std::nan("");
    else
        return report;
    report.kind = kind;
    return report;
}

int wholePercent(double fraction)
{
    if (!(fraction > 0.0)) // also catches NaN
        return 0;
    if (fraction >= 1.0)
        return 100;
    // Ten-thousandths first, so 0.29 (stored as 0.28999...) still reads 29;
    // short of complete never reads 100.
    const double percent = std::floor(std::round(fraction * 1000000.0) / 10000.0);
    return qBound(0, int(percent), 99);
}

QString plainProgressLine(const ProgressReport &report)
{
    if (report.kind == ProgressReport::Kind::Unreadable)
        return unreadable("progress", report.text);
    const QString prefix = report.kind == ProgressReport::Kind::Upload
            ? QStringLiteral("progress upload ")
            : QStringLiteral("progress ");
    if (!report.sizeKnown())
        return prefix + QStringLiteral("unknown");
    return prefix + QString::number(wholePercent(report.fraction)) + QLatin1Char('%');
}

QString formatBytes(qint64 bytes)
{
    if (bytes < 1024)
        return QString::number(qMax<qint64>(0, bytes)) + QStringLiteral(" B");
    static const char *const units[] = { "KiB", "MiB", "GiB", "TiB" };
    double value = double(bytes) / 1024.0;
    int unit = 0;
    // Compare the rounded value, so 1048575 bytes reads 1.0 MiB, not 1024.0 KiB.
    while (std::round(value * 10.0) >= 10240.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

double amountPerSecond(qint64 fromMs, double fromAmount, qint64 toMs, double toAmount)
{
    if (toMs <= fromMs || !std::isfinite(fromAmount) || !std::isfinite(toAmount)
        || toAmount <= fromAmount)
        return 0.0;
    return (toAmount - fromAmount) * 1000.0 / double(toMs - fromMs);
}

QString progressBarLine(const ProgressReport &report, double ratePerSecond, qint64 sizeBytes,
                        int spinnerStep)
{
    if (report.kind == ProgressReport::Kind::Unreadable)
        return unreadable("progress", report.text);

    QString line = report.kind == ProgressReport::Kind::Upload ? QStringLiteral("progress upload [")
                                                               : QStringLiteral("progress [");
    if (report.sizeKnown()) {
        const double fraction = qMin(report.fraction, 1.0);
        const int filled = qBound(0, int(std::floor(fraction * progressBarWidth)), progressBarWidth);
        line += QString(filled, QLatin1Char('#')) + QString(progressBarWidth - filled, QLatin1Char('-'));
        // Tenths rounded down, like the whole percent: 100.0 only when done.
        const double tenths = fraction >= 1.0
                ? 100.0
                : qMin(99.9, std::floor(std::round(fraction * 100000.0) / 100.0) / 10.0);
        line += QStringLiteral("] %1%").arg(tenths, 5, 'f', 1);
        if (sizeBytes > 0) {
            line += QStringLiteral("  %1 / %2")
                            .arg(formatBytes(qint64(std::llround(fraction * double(sizeBytes)))),
                                 formatBytes(sizeBytes));
            if (ratePerSecond > 0.0)
                line += QStringLiteral("  %1/s").arg(
                        formatBytes(qint64(std::llround(ratePerSecond * double(sizeBytes)))));
        } else if (ratePerSecond > 0.0) {
            line += QStringLiteral("  %1 %/s").arg(ratePerSecond * 100.0, 0, 'f', 1);
        }
        return line;
    }

    // A marker bouncing from end to end shows that messages still arrive.
    const QLatin1String marker("<=>");
    const int lastPosition = progressBarWidth - marker.size();
    int position = qAbs(spinnerStep) % (2 * lastPosition);
    if (position > lastPosition)
        position = 2 * lastPosition - position;
    line += QString(position, QLatin1Char(' ')) + marker
            + QString(lastPosition - position, QLatin1Char(' ')) + QLatin1Char(']');
    const qint64 bytes = report.bytesWithoutSize();
    if (bytes >= 0) {
        line += QStringLiteral("  %1 received").arg(formatBytes(bytes));
        if (ratePerSecond > 0.0)
            line += QStringLiteral("  %1/s").arg(formatBytes(qint64(std::llround(ratePerSecond))));
        return line + QStringLiteral(", size unknown");
    }
    return line + QStringLiteral("  size unknown");
}
