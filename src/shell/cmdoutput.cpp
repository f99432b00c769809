#include "shell/cmdoutput.h"

#include "platform/runtimeerror.h"

#include <QEventLoop>
#include <QProcess>
#include <QStringDecoder>
#include <QTimer>

namespace {

// More than any console command the program runs writes; a runaway child is stopped there
// rather than filling memory until the time limit.
constexpr qint64 MaxCaptureBytes = 16 * 1024 * 1024;

// The locale's decoder, kept across reads. A multi-byte sequence cut off by the end of the
// output becomes one replacement character instead of vanishing.
class StreamDecoder : public QStringDecoder
{
public:
    StreamDecoder() : QStringDecoder(QStringConverter::System) {}

    QString finish()
    {
        if (state.remainingChars == 0)
            return {};
        resetState();
        return QString(QChar::ReplacementCharacter);
    }
};

} // namespace

QString CaptureCommandOutput(const QString &commandLine, bool wantOutput, bool wantErrors,
                             int limitMs)
{
    if (!wantOutput && !wantErrors)
        throw RuntimeError(QStringLiteral("Invalid procedure call or argument"));

    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty())
        return ProcessStartFailedText;

    QProcess process;
    process.setProgram(arguments.takeFirst());
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    if (wantOutput && wantErrors) {
        // One stream, so the two come back interleaved in the order written.
        process.setProcessChannelMode(QProcess::MergedChannels);
    } else if (wantOutput) {
        process.setStandardErrorFile(QProcess::nullDevice());
    } else {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setReadChannel(QProcess::StandardError);
    }

    StreamDecoder decoder;
    QString result;
    qint64 bytesRead = 0;
    bool ended = false;
    bool failedToStart = false;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);

    const auto stop = [&] {
        ended = true;
        loop.quit();
    };
    const auto readAvailable = [&] {
        const QByteArray bytes = process.readAll();
        if (bytes.isEmpty())
            return;
        bytesRead += bytes.size();
        result += QString(decoder.decode(bytes));
        if (bytesRead > MaxCaptureBytes)
            process.kill();
    };
    QObject::connect(&process, &QIODevice::readyRead, &loop, readAvailable);
    QObject::connect(&process, &QProcess::finished, &loop, stop);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) {
            failedToStart = true;
            stop();
        }
    });
    // A killed child still ends with finished(), which ends the wait.
    QObject::connect(&limit, &QTimer::timeout, &process, &QProcess::kill);

    limit.start(limitMs);
    process.start(QIODevice::ReadOnly);
    // The start can fail before the loop runs; a quit() then would be lost.
    if (!ended)
        loop.exec();
    limit.stop();

    if (failedToStart)
        return ProcessStartFailedText;
    readAvailable();
    return result + decoder.finish();
}
