#pragma once

#include "platform/dialogs.h"

class QWidget;

// The real dialogs: QMessageBox, QInputDialog and QFileDialog over the given window.
class QtDialogs : public Dialogs
{
public:
    explicit QtDialogs(QWidget *parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget *parent) { m_parent = parent; }

    void message(const QString &text, const QString &title, Icon icon) override;
    bool askYesNo(const QString &text, const QString &title) override;
    QString inputText(const QString &prompt, const QString &title) override;
    QStringList openFileNames(const QString &title, const QString &filter) override;
    QString saveFileName(const QString &title, const QString &filter, const QString &startFolder,
                         QString *chosenFilter) override;

private:
    QWidget *m_parent;
};
