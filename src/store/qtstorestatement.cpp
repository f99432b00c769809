#include "store/qtstorestatement.h"

QtStoreStatement::QtStoreStatement(const QSqlDatabase &database, const QString &sql)
    : m_query(database)
{
    m_query.setForwardOnly(true);
    m_query.prepare(sql);
}

void QtStoreStatement::bindNull(int index)
{
    // A null of text type: PostgreSQL's driver needs a type for every parameter.
    m_query.bindValue(index, QVariant(QMetaType(QMetaType::QString)));
}
