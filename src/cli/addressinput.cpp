#include "cli/addressinput.h"

#include "cli/clioptions.h"
#include "cli/exitcode.h"
#include "cli/resumefile.h"
#include "platform/runtimeerror.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

CliError unreadable(const QString &name, const QString &why)
{
    return CliError{ExitCode::Usage,
                    QStringLiteral("cannot read ") + name + QStringLiteral(": ") + why};
}

} // namespace

AddressInput::AddressInput(const CliOptions &options, ResumeFile *done, QObject *parent)
    : QObject(parent), m_done(done)
{
    for (const CliOptions::Input &given : options.inputs) {
        auto input = std::make_unique<Input>();
        if (given.kind == CliOptions::Input::Kind::Address) {
            input->address = given.text;
            m_inputs.push_back(std::move(input));
            continue;
        }
        const QString &name = given.text;
        input->file = std::make_unique<QFile>();
        if (name == QLatin1String("-")) {
            input->name = QStringLiteral("standard input");
            if (!input->file->open(STDIN_FILENO, QIODevice::ReadOnly))
                throw unreadable(input->name, input->file->errorString());
        } else {
            input->name = name;
            input->file->setFileName(name);
            if (QFileInfo(name).isDir())
                throw unreadable(name, QStringLiteral("is a folder"));
            if (!input->file->open(QIODevice::ReadOnly))
                throw unreadable(name, input->file->errorString());
        }
        struct stat status
        {
        };
        input->regular = ::fstat(input->file->handle(), &status) == 0 && S_ISREG(status.st_mode);
        m_inputs.push_back(std::move(input));
    }
}

AddressInput::~AddressInput() = default;

void AddressInput::accept(const QString &given, QStringList &out)
{
    const QString address = CliArguments::normalizedAddress(given);
    if (address.isEmpty())
        return;
    if (m_done && m_done->takeDone(address))
        return;
    out.append(address);
    ++m_taken;
}

QStringList AddressInput::take(qsizetype max)
{
    QStringList out;
    while (out.size() < max && !m_ended) {
        if (m_current >= m_inputs.size()) {
            m_ended = true;
            break;
        }
        Input &input = *m_inputs[m_current];
        if (!input.file) {
            accept(input.address, out);
            ++m_current;
            continue;
        }
        QStringList lines;
        try {
            lines = input.regular ? input.reader.readLines(*input.file, max - out.size())
                                  : input.reader.take(max - out.size());
        } catch (const RuntimeError &error) {
            m_error = unreadable(input.name, error.description());
            m_ended = true;
            break;
        }
        for (const QString &line : lines)
            accept(line, out);
        if (input.reader.atEnd()) {
            // Possibly inside the notifier's own signal (readable -> the run -> here).
            if (input.notifier) {
                input.notifier->setEnabled(false);
                input.notifier->deleteLater();
                input.notifier = nullptr;
            }
            input.file->close();
            ++m_current;
            continue;
        }
        if (lines.isEmpty() && !input.regular) {
            // Nothing decoded is waiting: listen for the next bytes.
            if (!input.notifier) {
                input.notifier =
                    new QSocketNotifier(input.file->handle(), QSocketNotifier::Read, this);
                connect(input.notifier, &QSocketNotifier::activated, this,
                        [this, &input] { readable(input); });
            }
            input.notifier->setEnabled(true);
            m_waiting = true;
            break;
        }
    }
    return out;
}

// One read of what a pipe or terminal has; the notifier rests until the run asks again.
void AddressInput::readable(Input &input)
{
    input.notifier->setEnabled(false);
    QByteArray block(ListFile::LineReader::BlockSize, Qt::Uninitialized);
    ssize_t n = 0;
    do {
        n = ::read(input.file->handle(), block.data(), size_t(block.size()));
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        m_error = unreadable(input.name, QString::fromLocal8Bit(::strerror(errno)));
        m_ended = true;
    } else if (n == 0) {
        input.reader.finish();
    } else if (n > 0) {
        input.reader.feed(QByteArrayView(block.constData(), n));
    } else {
        input.notifier->setEnabled(true);
        return;
    }
    if (std::exchange(m_waiting, false))
        ready();
}
