#include "store/qtstorestatement.h"

QtStoreStatement::QtStoreStatement(const QSqlDatabase &database, const QString &sql, bool prepared)
    : m_query(database)
{
    m_query.setForwardOnly(true);
    if (prepared)
        m_query.prepare(sql);
    else
        m_text = sql;
}

void QtStoreStatement::bindNull(int index)
{
    // A null of text type: PostgreSQL's driver needs a type for every parameter.
    m_query.bindValue(index, QVariant(QMetaType(QMetaType::QString)));
}
