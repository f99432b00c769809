#include "app/form1.h"

#include "lookup/delay.h"
#include "lookup/lookuprun.h"
#include "lookup/sites.h"
#include "platform/dialogs.h"
#include "platform/listviewmodel.h"
#include "results/resultstable.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

void Form1::connectLookupControls()
{
    connect(button("PushButton4"), &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(button("PushButton7"), &QPushButton::clicked, this, &Form1::PushButton7_Click);
}

void Form1::PushButton4_Click()
{
    QPushButton *start = button("PushButton4");
    if (start->text() == QStringLiteral("Stop")) {
        start->setText(m_savedStartCaption);
        m_stopRequested = true;
        if (m_run)
            m_run->requestStop();
        return;
    }
    // A stopped run that has not ended yet: a new one waits until it has.
    if (m_run)
        return;

    // A run takes the delay as typed: it is stored as the edit's end.
    commitDelayText();
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

    auto site = [this]() -> std::optional<Site> {
        if (m_option1->isChecked())
            return Site::Option1;
        if (m_option2->isChecked())
            return Site::Option2;
        if (m_option3->isChecked())
            return Site::Option3;
        return std::nullopt;
    };
    m_run = new LookupRun(
        *m_results, addresses, site, [this] { return m_text1->text(); }, this);
    connect(m_run, &LookupRun::finished, this, &Form1::runFinished);
    m_run->start();
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
                               "website."));
    });
}
