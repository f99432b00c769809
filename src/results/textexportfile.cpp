#include "results/textexportfile.h"

#include "platform/runtimeerror.h"

#include <QDir>

TextExportFile::TextExportFile(const QString &path) : m_path(path), m_file(path)
{
    // Writing straight into the target would truncate it first; better to fail.
    m_file.setDirectWriteFallback(false);
}

void TextExportFile::fail(const QString &what) const
{
    throw RuntimeError(what + QDir::toNativeSeparators(m_path) + QStringLiteral(": ") +
                       m_file.errorString());
}

void TextExportFile::open()
{
    if (!m_file.open(QIODevice::WriteOnly))
        fail(QStringLiteral("Cannot create "));
}

void TextExportFile::writeBytes(const QByteArray &bytes)
{
    if (m_file.write(bytes) != bytes.size())
        fail(QStringLiteral("Cannot write "));
}

void TextExportFile::commit()
{
    if (!m_file.commit())
        fail(QStringLiteral("Cannot save "));
}

void TextExportFile::cancel()
{
    if (m_file.isOpen()) {
        m_file.cancelWriting();
        m_file.commit(); // closes the temporary file and removes it
    }
}
