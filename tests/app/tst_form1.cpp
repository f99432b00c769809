#include "formfixture.h"
#include "testregistry.h"

#include <QTest>

class Form1Tests : public QObject
{
    Q_OBJECT
private slots:
    void firstStart()
    {
        FormFixture f;
        Form1 &form = f.load();
        QCOMPARE(form.windowTitle(), QStringLiteral("Quorvane"));
    }
};

QUORVANE_REGISTER_TEST(Form1Tests)
#include "tst_form1.moc"
