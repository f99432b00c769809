#include "app/form1.h"

#include "addresses/listfile.h"
#include "addresses/listviewmodel.h"
#include "platform/dialogs.h"

#include <QEvent>
#include <QPushButton>

namespace {

const QString LoadTitle = QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files");
const QString LoadFilter = QStringLiteral("Text Files (*.txt);;All Files (*)");

// Notices that the window is being closed while a load lets events run, so the load stops
// instead of filling a list that has already been saved and is going away.
class CloseWatcher : public QObject
{
public:
    explicit CloseWatcher(QObject *window) { window->installEventFilter(this); }
    bool closed() const { return m_closed; }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Close)
            m_closed = true;
        return false;
    }

private:
    bool m_closed = false;
};

} // namespace

void Form1::connectListFileControls()
{
    connect(button("PushButton3"), &QPushButton::clicked, this, &Form1::PushButton3_Click);
}

void Form1::PushButton3_Click()
{
    Statements s(m_errors, QStringLiteral("Form1.PushButton3_Click"));
    CloseWatcher watcher(this);
    const ListFile::StopRequest stop = [&watcher] { return watcher.closed(); };
    const ListFile::LineSink addToList = [this](PackedLines &&batch) {
        m_addresses->addItems(std::move(batch));
    };

    // The dialog gives the chosen files as full paths, in the order it lists them; none when
    // cancelled.
    QStringList paths;
    s.run(108, [&] { paths = m_services.dialogs.openFileNames(LoadTitle, LoadFilter); });
    s.run(112, [&] { beginBusy(); });

    if (paths.size() == 1) {
        s.run(118, [&] {
            FileToListview(addToList, paths.first(), m_services.dialogs, m_appTitle, stop);
        });
    } else {
        for (const QString &chosen : std::as_const(paths)) {
            if (watcher.closed())
                break;
            QString path;
            s.run(130, [&] { path = NormalizePath(chosen); });
            s.run(132,
                  [&] { FileToListview(addToList, path, m_services.dialogs, m_appTitle, stop); });
        }
    }

    // Saved once for the whole load; a close in the middle has saved the list already.
    if (!paths.isEmpty() && !watcher.closed())
        s.run(134, [&] { saveAddressList(); });
    s.run(136, [&] { endBusy(); });
}
