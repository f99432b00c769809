// When the window writes its settings. Every write rewrites the whole settings file, whose
// address list may run to millions of entries, so nothing is written per keystroke or per
// single change: the delay when its edit ends (Enter, focus leaves, a run starts, the window
// closes), the address list once a burst of changes has ended, the source when another is
// chosen, and what is still unwritten on closing.

#include "app/form1.h"

#include "addresses/addresslist.h"
#include "addresses/listviewmodel.h"
#include "lookup/source.h"
#include "platform/settingsstore.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>

void Form1::connectSettingsControls()
{
    m_saveTimer = new QTimer(this);
    m_saveTimer->setObjectName(QStringLiteral("SaveTimer"));
    m_saveTimer->setSingleShot(true);
    connect(m_saveTimer, &QTimer::timeout, this, &Form1::SaveTimer_Timer);
    // Enter, or the focus leaving the box after a change.
    connect(m_text1, &QLineEdit::editingFinished, this, &Form1::Text1_LostFocus);
    // Kept as soon as it is set: an arrow click or the end of typing in the box.
    connect(m_reuseHours, &QSpinBox::valueChanged, this, [this](int hours) {
        Statements s(m_errors, QStringLiteral("Form1.ReuseHours_Change"));
        s.run(100, [&] { m_services.settings.write(ReuseHoursKey, QString::number(hours)); });
    });
    for (const auto &[option, kind] : sourceOptions())
        connect(option, &QRadioButton::clicked, this, &Form1::sourceChosen);
}

// ---------------------------------------------------------------- address list

void Form1::saveAddressList()
{
    // Each change of a burst puts the write off again, but never beyond a second after the
    // burst's first change: a crash loses at most the last second's changes.
    if (!m_saveTimer->isActive())
        m_listUnsavedSince.start();
    const qint64 left = ListSaveLatestMs - m_listUnsavedSince.elapsed();
    m_saveTimer->start(int(std::clamp<qint64>(left, 0, ListSaveQuietMs)));
}

void Form1::SaveTimer_Timer()
{
    Statements s(m_errors, QStringLiteral("Form1.SaveTimer_Timer"));
    s.run(100, [&] {
        m_services.settings.write(AddressList::SettingsKey, AddressList::savedForm(*m_addresses));
    });
}

// ---------------------------------------------------------------- delay

void Form1::storeDelayText()
{
    m_services.settings.write(QStringLiteral("Text1"), m_text1->text());
    m_delayEdited = false;
}

void Form1::commitDelayText()
{
    if (!m_delayEdited)
        return;
    // No report of its own: a store that fails here is tried again, and reported, on closing.
    try {
        storeDelayText();
    } catch (const std::exception &) {
    }
}

void Form1::storeSettingsBeforeClose()
{
    // The closing writes the list itself; the delay and the source are written only when they
    // changed since they were last written.
    m_saveTimer->stop();
    if (m_delayEdited)
        storeDelayText();
    if (m_sourceChosen)
        storeSource();
}

void Form1::Text1_Change()
{
    // A keystroke only notes the edit; its end stores the text.
    m_delayEdited = true;
}

void Form1::Text1_LostFocus()
{
    commitDelayText();
}

// ---------------------------------------------------------------- source

void Form1::restoreSource()
{
    // A name no option stands for (a newer version's source, a hand edit) leaves the default.
    const QString name = m_services.settings.read(SourceKey, QString());
    for (const auto &[option, kind] : sourceOptions()) {
        if (sourceKindName(kind) == name)
            option->setChecked(true);
    }
}

void Form1::storeSource()
{
    // A click on the option already chosen writes nothing: the whole file would be rewritten.
    const std::optional<SourceKind> kind = chosenSource();
    if (kind && m_services.settings.read(SourceKey, QString()) != sourceKindName(*kind))
        m_services.settings.write(SourceKey, sourceKindName(*kind));
    m_sourceChosen = false;
}

void Form1::sourceChosen()
{
    m_sourceChosen = true;
    // No report of its own, as for the delay: a store that fails is tried again, and reported,
    // on closing.
    try {
        storeSource();
    } catch (const std::exception &) {
    }
}
