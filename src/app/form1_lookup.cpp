#include "app/form1.h"

#include "app/apptitle.h"

#include "addresses/listviewmodel.h"
#include "lookup/delay.h"
#include "platform/dialogs.h"
#include "rdap/rdapbootstrapstore.h"
#include "results/resultstable.h"
#include "run/lookuprun.h"
#include "run/runfeed.h"
#include "store/storefile.h"
#include "store/storememory.h"
#include "web/sites.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>

#include <memory>

void Form1::connectLookupControls()
{
    connect(button("PushButton4"), &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(button("PushButton7"), &QPushButton::clicked, this, &Form1::PushButton7_Click);
    // A run's counts stay in the caption until the results or the address list change.
    for (QAbstractItemModel *model : {static_cast<QAbstractItemModel *>(m_results),
                                      static_cast<QAbstractItemModel *>(m_addresses)}) {
        connect(model, &QAbstractItemModel::rowsInserted, this, &Form1::dropRunCaption);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &Form1::dropRunCaption);
        connect(model, &QAbstractItemModel::modelReset, this, &Form1::dropRunCaption);
    }
}

void Form1::dropRunCaption()
{
    if (!m_runCaptionShown || isRunning())
        return;
    m_runCaptionShown = false;
    setWindowTitle(ProductName);
}

QList<std::pair<QRadioButton *, SourceKind>> Form1::sourceOptions() const
{
    return {{m_option1, SourceKind::Site1},
            {m_option2, SourceKind::Site2},
            {m_option3, SourceKind::Site3},
            {m_option4, SourceKind::Whois},
            {m_option5, SourceKind::Auto}};
}

std::optional<SourceKind> Form1::chosenSource() const
{
    for (const auto &[option, kind] : sourceOptions()) {
        if (option->isChecked())
            return kind;
    }
    return std::nullopt;
}

void Form1::PushButton4_Click()
{
    if (m_run) {
        // A run under way is stopped; a stopped run that has not ended yet makes a new one wait.
        if (m_run->state() == LookupRun::State::Running) {
            m_stopRequested = true;
            m_run->requestStop();
        }
        return;
    }

    // A run takes the delay as typed: it is stored as the edit's end.
    commitDelayText();
    QPushButton *start = button("PushButton4");
    m_savedStartCaption = start->text();
    start->setText(QStringLiteral("Stop"));
    m_stopRequested = false;

    if (!IsDelayNumeric(m_text1->text())) {
        message(QStringLiteral("You must enter a number."));
        endRunAttempt();
        return;
    }
    if (m_addresses->itemCount() == 0) {
        message(QStringLiteral("No URL(s) added."));
        endRunAttempt();
        return;
    }

    m_frame1->setEnabled(false);
    beginBusy();
    m_results->ResetResultsTable();

    // The entries there now; those added during the run are not looked up in it.
    QStringList addresses;
    const int n = m_addresses->itemCount();
    addresses.reserve(n);
    for (int i = 1; i <= n; ++i)
        addresses.append(m_addresses->itemText(i));

    RunOptions options;
    options.source = [this] { return chosenSource(); };
    options.delayText = [this] { return m_text1->text(); };
    options.keepNotices = m_checkKeepNotices->isChecked();
    if (!m_rdapBootstrap) {
        m_rdapBootstrap = RdapBootstrapStore::withOwnClient(RunOptions::environmentConnectTo(),
                                                            RunOptions::environmentProxy(), this);
        connect(m_rdapBootstrap, &RdapBootstrapStore::notice, this, [this](const QString &text) {
            // Shown once the run's own handlers are done with the event that brought it.
            QTimer::singleShot(
                0, this, [this, text] { message(text.left(1).toUpper() + text.mid(1) + u'.'); });
        });
    }
    options.rdapBootstrapStore = m_rdapBootstrap;
    options.memory = answerStore();
    m_store->setMaxAgeMs(qint64(m_reuseHours->value()) * 3600 * 1000);
    // The last run's answers still on their way to the disk (a second's worth at most) are
    // written first, so this run finds them.
    m_store->flush();
    m_run = new LookupRun(addresses, std::move(options), this);
    feedResultsTable(*m_run, *m_results);
    connect(m_run, &LookupRun::stateChanged, this, [this](LookupRun::State state) {
        // A stop puts the start caption back at once; a run that ends by itself keeps "Stop"
        // until the user has seen "Done.".
        if (state == LookupRun::State::Stopping)
            button("PushButton4")->setText(m_savedStartCaption);
    });
    connect(m_run, &LookupRun::finished, this, &Form1::runFinished);
    // Progress in the caption: rows done, failures included, of the whole list, and how many
    // failed; it stays after the run until the results or the list change.
    auto failed = std::make_shared<qsizetype>(0);
    auto showProgress = [this, n, failed](qsizetype done) {
        setWindowTitle(RunCaption(done, n, *failed));
        m_runCaptionShown = true;
    };
    connect(m_run, &LookupRun::resultReady, this,
            [showProgress, failed](qsizetype index, const LookupResult &result) {
                // A page without a record element leaves its row plain: not a failure.
                if (!result.ok() && result.reason != FailureReason::NoRecord)
                    ++*failed;
                showProgress(index + 1);
            });
    showProgress(0);
    m_run->start();
}

StoreMemory *Form1::answerStore()
{
    if (m_store)
        return m_store;
    m_store = new StoreMemory(
        m_options.storePath.isEmpty() ? StoreFile::defaultPath() : m_options.storePath, 0, this);
    // Said once each; the runs go on without what the store cannot do.
    if (!m_store->openProblem().isEmpty())
        message(QStringLiteral("The answers are not kept: ") + m_store->openProblem() +
                QLatin1Char('.'));
    connect(m_store, &StoreMemory::problem, this, [this](const QString &problem) {
        message(QStringLiteral("The answers are no longer kept: ") + problem + QLatin1Char('.'));
    });
    return m_store;
}

void Form1::runFinished()
{
    endBusy();
    m_frame1->setEnabled(true);
    message(QStringLiteral("Done."));
    endRunAttempt();
    if (m_run) {
        m_run->deleteLater();
        m_run = nullptr;
    }
}

void Form1::endRunAttempt()
{
    button("PushButton4")->setText(m_savedStartCaption);
    m_stopRequested = true;
}

void Form1::PushButton7_Click()
{
    Statements s(m_errors, QStringLiteral("Form1.PushButton7_Click"));
    s.run(100, [&] {
        message(QStringLiteral("This software is not sophisticated. It accesses an external "
                               "website (such as ") +
                Sites::host(Site::Option2) + QStringLiteral(", ") + Sites::host(Site::Option1) +
                QStringLiteral(" or ") + Sites::host(Site::Option3) +
                QStringLiteral(") to lookup the whois information for each of your specified "
                               "IP addresses / domains. As a result, there should be some "
                               "delay between lookups to avoid annoying this external "
                               "website.\n\n") +
                m_option4->text() + QStringLiteral(" and ") + m_option5->text() +
                QStringLiteral(" ask the registries' own servers instead: the delay holds per "
                               "server, so two questions to the same server are at least that "
                               "far apart, while different servers are asked side by side."));
    });
}
