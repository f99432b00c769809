#pragma once

#include "addresses/listfile.h"
#include "cli/clierror.h"
#include "lookup/addressfeed.h"

#include <QObject>

#include <memory>
#include <optional>
#include <vector>

struct CliOptions;
class QFile;
class QSocketNotifier;
class ResumeFile;

// The addresses to look up, in order, read as the run asks for them: those given with
// --address, then for each argument the address it is or the lines of the list file it names
// (standard input for "-", or when no argument and no --address is given). Lines follow the
// window's list-file rules (UTF-8, CR LF / LF / CR, a leading byte-order mark dropped), except
// that empty lines are skipped. Every address is normalised as typed addresses are
// (CliArguments::normalizedAddress): a line of white space only counts as empty. A regular file is
// read a block at a time when the run needs more; a pipe or terminal is read when it has
// bytes (an event), one block at a time, so a slow writer never holds up the answers in flight.
// At most one block's lines are held beyond what the run has taken. Addresses a resumed run
// already wrote are skipped as they go by.
class AddressInput : public QObject, public AddressFeed
{
    Q_OBJECT

public:
    // Opens every input; throws CliError (exit 2) when one cannot be opened.
    AddressInput(const CliOptions &options, ResumeFile *done, QObject *parent = nullptr);
    ~AddressInput() override;

    QStringList take(qsizetype max) override;
    bool atEnd() const override { return m_ended; }

    // Addresses handed out so far (all of them once atEnd).
    qsizetype taken() const { return m_taken; }
    // A read that failed part way (the input ends there).
    const std::optional<CliError> &error() const { return m_error; }

private:
    struct Input
    {
        QString address; // an address given as such (no file)
        QString name;
        std::unique_ptr<QFile> file;
        bool regular = true;
        ListFile::LineReader reader;
        QSocketNotifier *notifier = nullptr;
    };

    void accept(const QString &address, QStringList &out);
    void readable(Input &input);

    std::vector<std::unique_ptr<Input>> m_inputs;
    size_t m_current = 0;
    ResumeFile *m_done;
    qsizetype m_taken = 0;
    bool m_waiting = false; // the run asked for more than was ready
    bool m_ended = false;
    std::optional<CliError> m_error;
};
