#include "platform/qtdialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

void QtDialogs::message(const QString &text, const QString &title, Icon icon)
{
    QMessageBox box(icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, title, text,
                    QMessageBox::Ok, m_parent);
    box.exec();
}

bool QtDialogs::askYesNo(const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No, m_parent);
    return box.exec() == QMessageBox::Yes;
}

QString QtDialogs::inputText(const QString &prompt, const QString &title)
{
    bool ok = false;
    const QString text =
        QInputDialog::getText(m_parent, title, prompt, QLineEdit::Normal, QString(), &ok);
    return ok ? text : QString();
}

QStringList QtDialogs::openFileNames(const QString &title, const QString &filter)
{
    return QFileDialog::getOpenFileNames(m_parent, title, QString(), filter);
}

QString QtDialogs::saveFileName(const QString &title, const QString &filter,
                                const QString &startFolder, QString *chosenFilter)
{
    // The program asks its own overwrite question.
    return QFileDialog::getSaveFileName(m_parent, title, startFolder, filter, chosenFilter,
                                        QFileDialog::DontConfirmOverwrite);
}
