#include "app/form1.h"

#include "app/apptitle.h"

#include "addresses/listviewmodel.h"
#include "lookup/delay.h"
#include "platform/dialogs.h"
#include "results/resultstable.h"
#include "run/lookuprun.h"
#include "run/runfeed.h"
#include "store/storefile.h"
#include "store/storememory.h"
#include "web/sites.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

void Form1::connectLookupControls()
{
    connect(button("PushButton4"), &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(button("PushButton7"), &QPushButton::clicked, this, &Form1::PushButton7_Click);
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
    options.source = [this]() -> std::optional<SourceKind> {
        if (m_option1->isChecked())
            return SourceKind::Site1;
        if (m_option2->isChecked())
            return SourceKind::Site2;
        if (m_option3->isChecked())
            return SourceKind::Site3;
        if (m_option4->isChecked())
            return SourceKind::Whois;
        if (m_option5->isChecked())
            return SourceKind::Auto;
        return std::nullopt;
    };
    options.delayText = [this] { return m_text1->text(); };
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
    // Progress in the caption: rows done, failures included, of the whole list.
    const QString total = QLocale(QLocale::English).toString(qlonglong(n));
    auto showProgress = [this, total](qsizetype done) {
        setWindowTitle(
            QStringLiteral("%1 - %2 of %3")
                .arg(ProductName, QLocale(QLocale::English).toString(qlonglong(done)), total));
    };
    connect(m_run, &LookupRun::resultReady, this,
            [showProgress](qsizetype index, const LookupResult &) { showProgress(index + 1); });
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
    setWindowTitle(ProductName);
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
                               "website."));
    });
}
