#include "addresses/listviewmodel.h"
#include "app/apptitle.h"
#include "app/resultcolumns.h"
#include "app/statustint.h"
#include "formfixture.h"
#include "lookup/source.h"
#include "results/resultstable.h"
#include "run/resultplacing.h"
#include "testhttpserver.h"
#include "testregistry.h"

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QToolTip>
#include <QTreeView>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// A port-43 result as the run gives it, with the facts that matter to the columns.
LookupResult whoisResult(const QString &address, RecordStatus status, const QString &registrar = {})
{
    LookupResult r;
    r.address = address;
    r.source = SourceKind::Whois;
    r.facts.status = status;
    r.facts.registrar = registrar;
    r.facts.created = u"1997-09-15T04:00:00Z"_s;
    r.facts.nameServers = {u"ns1.example.net"_s, u"ns2.example.net"_s};
    r.fields = {RecordField{u"Domain Name"_s, address.toUpper()}};
    return r;
}

// Places a result in the window's table as a run does.
void addRow(ResultsTable &table, const LookupResult &result)
{
    const int row = table.AddResultRow(result.address);
    placeResult(
        result, [&](const RecordFields &fields) { return table.placeFields(row, fields); },
        [&] { table.MarkRowInvalid(row); });
}

double luminance(const QColor &c)
{
    const auto linear = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

// The contrast ratio of two colours as WCAG defines it (1 to 21).
double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Base, QColor(0x23, 0x23, 0x23));
    p.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
    p.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
    p.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
    return p;
}

// Presses the mouse on the divider at the right edge of a header section and moves it by dx.
void dragDivider(QHeaderView *header, int section, int dx)
{
    const int edge = header->sectionViewportPosition(section) + header->sectionSize(section) - 1;
    const QPoint from(edge, header->height() / 2);
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(header->viewport(), from + QPoint(dx, 0));
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, from + QPoint(dx, 0));
}

TestHttpServer::Response page(const QByteArray &target)
{
    TestHttpServer::Response r;
    r.body = "<div id=\"whoisRecordContainer\">Domain: " + target.mid(1) + "</div>";
    if (target.contains("missing"))
        r.reset = true;
    return r;
}

} // namespace

// What the window does so that its facts can be read: columns sized to what they hold, the
// Status cells tinted, the chosen source kept, a run's counts kept in the caption.
class Form1FactsTests : public QObject
{
    Q_OBJECT

    TestHttpServer m_server{page};

private slots:
    // The summary columns are as wide as their caption and their widest value (a date shows
    // whole); the address column as wide as its caption and widest entry up to the cap; a
    // site's record columns keep the view's default width.
    void columnsFitWhatTheyHold_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("protocol");
        QTest::newRow("port 43, short address") << u"a.example"_s << true;
        QTest::newRow("port 43, address past the cap")
            << u"a-very-long-label-that-goes-on-and-on-and-on.example"_s + QString(30, u'x')
            << true;
        QTest::newRow("site record") << u"a.example"_s << false;
    }
    void columnsFitWhatTheyHold()
    {
        QFETCH(QString, address);
        QFETCH(bool, protocol);
        FormFixture f;
        Form1 &form = f.load();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto *view = f.control<QTreeView>("ListView2");
        // The widths the view's own delegate asks for (public on the item view).
        QAbstractItemView *items = view;
        QHeaderView *header = view->header();
        ResultsTable &table = form.results();
        table.ResetResultsTable();
        LookupResult result = whoisResult(address, RecordStatus::Registered, u"Example"_s);
        if (!protocol) {
            result.source = SourceKind::Site2;
            result.fields = {RecordField{u"Registrar"_s, u"Example Registrar, Incorporated"_s},
                             RecordField{u"Created"_s, u"1997-09-15T04:00:00Z"_s}};
        }
        addRow(table, result);
        addRow(table, whoisResult(u"b.example"_s, RecordStatus::Available));
        // Later values a little wider than the ones before, kerned pairs, a name beyond
        // Latin-1.
        for (const QString &registrar :
             {u"株式会社 Example"_s, u"Example Registrar, Incorporated"_s,
              u"Example Registrar, Incorporated."_s, u"AVAV Tower Yoyodyne, Incorporated"_s})
            addRow(table, whoisResult(u"c.example"_s, RecordStatus::Registered, registrar));
        // A value longer than the cap.
        LookupResult locked = whoisResult(u"d.example"_s, RecordStatus::Registered);
        for (const char *what : {"Delete", "Transfer", "Update", "Renew"})
            locked.facts.domainStatus << u"client%1Prohibited"_s.arg(QLatin1String(what))
                                      << u"server%1Prohibited"_s.arg(QLatin1String(what));
        addRow(table, locked);

        const int wanted0 = std::max(items->sizeHintForColumn(0), header->sectionSizeHint(0));
        QVERIFY(qAbs(header->sectionSize(0) - std::min(wanted0, int(ResultColumns::CapPixels))) <=
                2);
        if (!protocol) {
            for (int k = 1; k < table.headerCount(); ++k)
                QCOMPARE(header->sectionSize(k), header->defaultSectionSize());
            return;
        }
        const int summary = ResultColumns::summaryColumnCount(table);
        if (protocol) {
            const int domainStatus = table.FindResultColumn(u"Domain Status"_s) - 1;
            QCOMPARE(header->sectionSize(domainStatus), int(ResultColumns::CapPixels));
        }
        QCOMPARE(summary, int(summaryCaptions().size()));
        // As wide as the view's delegate asks, and at most the two spare pixels and a pixel of
        // rounding wider.
        for (int k = 1; k <= summary; ++k) {
            const int wanted =
                std::min(std::max(items->sizeHintForColumn(k), header->sectionSizeHint(k)),
                         int(ResultColumns::CapPixels));
            QVERIFY2(header->sectionSize(k) >= wanted && header->sectionSize(k) <= wanted + 3,
                     qPrintable(table.headerText(k + 1) + u": "_s +
                                QString::number(header->sectionSize(k)) + u" for "_s +
                                QString::number(wanted)));
        }
    }

    // A width the user set stays for the run, however wide later values are; the next run sizes
    // the column again.
    void theUsersWidthIsKeptForTheRun()
    {
        FormFixture f;
        Form1 &form = f.load();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto *view = f.control<QTreeView>("ListView2");
        QHeaderView *header = view->header();
        ResultsTable &table = form.results();
        table.ResetResultsTable();
        addRow(table, whoisResult(u"a.example"_s, RecordStatus::Registered, u"R"_s));
        const int registrar = table.FindResultColumn(u"Registrar"_s) - 1;
        const int before = header->sectionSize(registrar);
        dragDivider(header, registrar, 30);
        const int users = header->sectionSize(registrar);
        QCOMPARE(users, before + 30);

        const QString longName = u"A Registrar With A Rather Long Name, Limited"_s;
        addRow(table, whoisResult(u"b.example"_s, RecordStatus::Registered, longName));
        QCOMPARE(header->sectionSize(registrar), users);

        table.ResetResultsTable();
        addRow(table, whoisResult(u"b.example"_s, RecordStatus::Registered, longName));
        QVERIFY(header->sectionSize(registrar) >= view->fontMetrics().horizontalAdvance(longName));
    }

    // The Status cells of the registries' sources carry their status's tint, readable with the
    // palette's text colour in a light and a dark palette; registered rows and a site's own
    // "Status" field are not tinted.
    void statusTints_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("tinted");
        const QList<std::pair<const char *, QPalette>> palettes{{"light", QPalette(Qt::white)},
                                                                {"dark", darkPalette()}};
        for (const auto &[name, palette] : palettes) {
            for (RecordStatus kind : {RecordStatus::Available, RecordStatus::Throttled,
                                      RecordStatus::Failed, RecordStatus::Invalid}) {
                const QString status = recordStatusName(kind);
                QTest::addRow("%s %s", name, qPrintable(status)) << palette << status << true;
            }
            for (RecordStatus kind : {RecordStatus::Registered, RecordStatus::Reserved}) {
                const QString status = recordStatusName(kind);
                QTest::addRow("%s %s", name, qPrintable(status)) << palette << status << false;
            }
        }
    }
    void statusTints()
    {
        QFETCH(QPalette, palette);
        QFETCH(QString, status);
        QFETCH(bool, tinted);
        const QColor tint = StatusTint::tint(status, palette);
        QCOMPARE(tint.isValid(), tinted);
        if (!tinted)
            return;
        QVERIFY(tint != palette.color(QPalette::Base));
        const double ratio = contrast(tint, palette.color(QPalette::Text));
        QVERIFY2(ratio >= 4.5, qPrintable(QString::number(ratio)));
        QVERIFY(StatusTint::legend(palette).contains(tint.name()));
    }

    void statusCellsArePaintedWithTheirTint_data()
    {
        QTest::addColumn<SourceKind>("source");
        QTest::addColumn<RecordStatus>("kind");
        QTest::addColumn<bool>("tinted");
        QTest::newRow("whois available") << SourceKind::Whois << RecordStatus::Available << true;
        QTest::newRow("whois failed") << SourceKind::Whois << RecordStatus::Failed << true;
        QTest::newRow("whois registered") << SourceKind::Whois << RecordStatus::Registered << false;
        QTest::newRow("site field named Status")
            << SourceKind::Site2 << RecordStatus::Failed << false;
    }
    void statusCellsArePaintedWithTheirTint()
    {
        QFETCH(SourceKind, source);
        QFETCH(RecordStatus, kind);
        QFETCH(bool, tinted);
        const QString status = recordStatusName(kind);
        FormFixture f;
        Form1 &form = f.load();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto *view = f.control<QTreeView>("ListView2");
        ResultsTable &table = form.results();
        table.ResetResultsTable();
        LookupResult result = whoisResult(u"a.example"_s, kind);
        if (source != SourceKind::Whois) {
            result.source = source;
            result.fields = {RecordField{u"Status"_s, status}};
        }
        addRow(table, result);
        const QModelIndex cell = table.index(0, 1);
        QCOMPARE(cell.data().toString(), status);
        const QRect rect = view->visualRect(cell);
        const QImage image = view->viewport()->grab().toImage();
        const QColor painted = image.pixelColor(rect.right() - 2, rect.center().y());
        const QColor expected = tinted ? StatusTint::tint(status, view->palette())
                                       : view->palette().color(QPalette::Base);
        QCOMPARE(painted.name(), expected.name());

        // The legend is the Status cell's tooltip.
        QToolTip::hideText();
        QHelpEvent help(QEvent::ToolTip, rect.center(),
                        view->viewport()->mapToGlobal(rect.center()));
        QApplication::sendEvent(view->viewport(), &help);
        QCOMPARE(QToolTip::text().contains(u"throttled"_s), source == SourceKind::Whois);
        QToolTip::hideText();
    }

    // The labels of the source options and of the check box beside them show the frame's own
    // background: no box of another shade.
    void optionLabelsTakeTheFramesBackground_data()
    {
        QTest::addColumn<QString>("option");
        for (const char *name : {"Option1", "Option3", "Option4", "Option5", "CheckKeepNotices"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void optionLabelsTakeTheFramesBackground()
    {
        QFETCH(QString, option);
        FormFixture f;
        Form1 &form = f.load();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto *frame = f.control<QGroupBox>("Frame1");
        auto *button = frame->findChild<QAbstractButton *>(option);
        const QRect r = button->geometry();
        const QImage image = frame->grab().toImage();
        const QColor behindLabel = image.pixelColor(r.right() - 2, r.center().y());
        const QColor frameBeside = image.pixelColor(r.right() + 3, r.center().y());
        QCOMPARE(behindLabel.name(), frameBeside.name());
    }

    // The chosen source comes back at the next start, written once per choice.
    void theChosenSourceIsKept_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("stored");
        QTest::newRow("Option1") << u"Option1"_s << u"site1"_s;
        QTest::newRow("Option2") << u"Option2"_s << u"site2"_s;
        QTest::newRow("Option3") << u"Option3"_s << u"site3"_s;
        QTest::newRow("Option4") << u"Option4"_s << u"whois"_s;
        QTest::newRow("Option5") << u"Option5"_s << u"auto"_s;
    }
    void theChosenSourceIsKept()
    {
        QFETCH(QString, option);
        QFETCH(QString, stored);
        FormFixture first;
        first.load();
        first.control<QRadioButton>(qPrintable(option))->click();
        QCOMPARE(first.settings.values.value(Form1::SourceKey), stored);
        // A second click on the same option writes nothing again.
        QCOMPARE(first.settings.writtenKeys.count(Form1::SourceKey), 1);
        first.control<QRadioButton>(qPrintable(option))->click();
        QCOMPARE(first.settings.writtenKeys.count(Form1::SourceKey), 1);
        first.form->close();

        FormFixture next;
        next.settings.values = first.settings.values;
        next.load();
        QVERIFY(next.control<QRadioButton>(qPrintable(option))->isChecked());
    }

    void anUnknownSourceLeavesTheDefault()
    {
        FormFixture f;
        f.settings.values.insert(Form1::SourceKey, u"site9"_s);
        f.load();
        QVERIFY(f.control<QRadioButton>("Option2")->isChecked());
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    // A choice whose write failed is written, or reported, on closing.
    void aFailedSourceWriteIsRetriedOnClosing()
    {
        FormFixture f;
        f.load();
        f.settings.failWritesWith = u"Disk full"_s;
        f.control<QRadioButton>("Option4")->click();
        QVERIFY(f.dialogs.shown.isEmpty());
        f.settings.failWritesWith.clear();
        f.form->close();
        QCOMPARE(f.settings.values.value(Form1::SourceKey), u"whois"_s);
    }

    void runCaption_data()
    {
        QTest::addColumn<qsizetype>("done");
        QTest::addColumn<qsizetype>("total");
        QTest::addColumn<qsizetype>("failed");
        QTest::addColumn<QString>("caption");
        QTest::newRow("start") << qsizetype(0) << qsizetype(5000) << qsizetype(0)
                               << u"Quorvane - 0 of 5,000"_s;
        QTest::newRow("done with failures") << qsizetype(5000) << qsizetype(5000) << qsizetype(12)
                                            << u"Quorvane - 5,000 of 5,000, 12 failed"_s;
        QTest::newRow("thousands failed")
            << qsizetype(1234567) << qsizetype(2000000) << qsizetype(1000)
            << u"Quorvane - 1,234,567 of 2,000,000, 1,000 failed"_s;
    }
    void runCaption()
    {
        QFETCH(qsizetype, done);
        QFETCH(qsizetype, total);
        QFETCH(qsizetype, failed);
        QFETCH(QString, caption);
        QCOMPARE(RunCaption(done, total, failed), caption);
    }

    // After a run the caption keeps its counts until the results or the list change.
    void theCaptionKeepsTheCountsUntilTheNextChange_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("an address added") << u"add"_s;
        QTest::newRow("the results cleared") << u"clear results"_s;
        QTest::newRow("a result removed") << u"remove result"_s;
        QTest::newRow("the list cleared") << u"clear list"_s;
    }
    void theCaptionKeepsTheCountsUntilTheNextChange()
    {
        QFETCH(QString, change);
        qputenv("QUORVANE_SITE2_URL", (m_server.baseUrl() + u"/"_s).toUtf8());
        FormFixture f;
        Form1 &form = f.load();
        f.control<QLineEdit>("Text1")->setText(u"0"_s);
        form.addressList().addItems({u"a.example"_s, u"missing.example"_s, u"c.example"_s});
        f.click("PushButton4");
        QTRY_VERIFY_WITH_TIMEOUT(!form.isRunning(), 10000);
        const QString counts = u"Quorvane - 3 of 3, 1 failed"_s;
        QCOMPARE(form.windowTitle(), counts);
        // Sorting shows the same results: the counts stay.
        f.control<QTreeView>("ListView2")->header()->sectionClicked(0);
        QCOMPARE(form.windowTitle(), counts);

        if (change == u"add"_s)
            form.addressList().addItem(u"d.example"_s);
        else if (change == u"clear results"_s)
            f.click("PushButton9");
        else if (change == u"remove result"_s)
            form.results().removeItem(1);
        else
            f.click("PushButton11");
        QCOMPARE(form.windowTitle(), u"Quorvane"_s);
    }

    // The window's icon is the embedded drawing in every rendered size.
    void theIconHasEverySize()
    {
        FormFixture f;
        Form1 &form = f.load();
        const QList<QSize> sizes = form.windowIcon().availableSizes();
        for (int side : {16, 24, 32, 48, 64, 128, 256})
            QVERIFY2(sizes.contains(QSize(side, side)), qPrintable(QString::number(side)));
    }
};

QUORVANE_REGISTER_TEST(Form1FactsTests)
#include "tst_form1_facts.moc"
