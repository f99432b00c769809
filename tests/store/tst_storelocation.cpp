#include "store/storelocation.h"
#include "testregistry.h"

#include <QTest>

using namespace Qt::StringLiterals;

// What --store names: a file, or a PostgreSQL database by URL, read into what libpq is given.
class TestStoreLocation : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("postgres");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("parameter"); // one word libpq is given, or the error's words
        QTest::newRow("a file") << u"answers.sqlite"_s << false << QString() << QString() << -1
                                << QString() << QString();
        QTest::newRow("a file named like a scheme") << u"./postgresql://x"_s << false << QString()
                                                    << QString() << -1 << QString() << QString();
        QTest::newRow("user, host, port, database")
            << u"postgresql://quorvane@db.example.net:5433/whois"_s << true << u"quorvane"_s
            << u"db.example.net"_s << 5433 << u"whois"_s << u"connect_timeout=10"_s;
        QTest::newRow("short scheme, defaults left to libpq")
            << u"postgres:///whois"_s << true << QString() << QString() << -1 << u"whois"_s
            << u"keepalives=1"_s;
        QTest::newRow("IPv6 host") << u"postgresql://q@[::1]:5432/w"_s << true << u"q"_s << u"::1"_s
                                   << 5432 << u"w"_s << QString();
        QTest::newRow("a socket folder, percent-encoded")
            << u"postgresql://q@%2Fvar%2Frun%2Fpostgresql/w%20x"_s << true << u"q"_s
            << u"/var/run/postgresql"_s << -1 << u"w x"_s << QString();
        // The URL's own words come after the defaults: libpq takes a repeated word's last value.
        QTest::newRow("parameters quoted for libpq")
            << u"postgresql://q@h/w?sslmode=require&connect_timeout=3&application_name=a'b"_s
            << true << u"q"_s << u"h"_s << -1 << u"w"_s << u"application_name='a\\'b'"_s;
        QTest::newRow("password in the user part")
            << u"postgresql://q:secret@h/w"_s << true << QString() << QString() << -1 << QString()
            << u"PGPASSWORD"_s;
        QTest::newRow("password as a parameter")
            << u"postgresql://q@h/w?password=secret"_s << true << QString() << QString() << -1
            << QString() << u"PGPASSWORD"_s;
        QTest::newRow("no database") << u"postgresql://q@h:5432"_s << true << QString() << QString()
                                     << -1 << QString() << u"names no database"_s;
        QTest::newRow("port out of range")
            << u"postgresql://q@h:0/w"_s << true << QString() << QString() << -1 << QString()
            << u"not a number from 1 to 65535"_s;
        QTest::newRow("a parameter libpq would split")
            << u"postgresql://q@h/w?options=-c%20a%3Db;c"_s << true << QString() << QString() << -1
            << QString() << u"not NAME=VALUE"_s;
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(bool, postgres);
        QFETCH(QString, user);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, database);
        QFETCH(QString, parameter);
        QString error;
        const std::optional<StoreLocation> location = StoreLocation::parse(text, &error);
        // A URL without a database is refused; the row's last column says why.
        const bool refused = postgres && database.isEmpty();
        QCOMPARE(!location, refused);
        if (refused) {
            QVERIFY2(error.contains(parameter), qPrintable(error));
            QVERIFY(!error.contains(u"secret"_s));
            return;
        }
        QCOMPARE(location->isPostgres(), postgres);
        QCOMPARE(location->shown(), text);
        if (!postgres) {
            QCOMPARE(location->path, text);
            return;
        }
        QCOMPARE(location->user, user);
        QCOMPARE(location->host, host);
        QCOMPARE(location->port, port);
        QCOMPARE(location->database, database);
        const QStringList words = location->parameters.split(u' ');
        if (!parameter.isEmpty())
            QVERIFY2(words.contains(parameter), qPrintable(location->parameters));
        // The URL's words after the defaults.
        if (text.contains(u"connect_timeout=3"_s))
            QVERIFY(words.lastIndexOf(u"connect_timeout='3'"_s) >
                    words.indexOf(u"connect_timeout=10"_s));
    }
};

QUORVANE_REGISTER_TEST(TestStoreLocation)

#include "tst_storelocation.moc"
