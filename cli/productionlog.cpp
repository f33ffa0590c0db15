#include "productionlog.h"

#include "protocol/replytext.h"

#include <QFileInfo>
#include <QStringList>

namespace tessary {

ProductionLog::ProductionLog(const QString &path) : m_file(path) {}

bool ProductionLog::open(QString *reason)
{
    // A file is appended to; a device or a pipe takes the rows as they come
    // (appending would seek, which it cannot, and Qt would warn).
    const QFileInfo info(m_file.fileName());
    if (!m_file.open(!info.exists() || info.isFile() ? QIODevice::WriteOnly | QIODevice::Append
                                                     : QIODevice::WriteOnly)) {
        *reason = m_file.errorString();
        return false;
    }
    m_needsHeader = m_file.size() == 0;
    return true;
}

bool ProductionLog::append(const Row &row, QString *reason)
{
    QByteArray bytes;
    if (m_needsHeader)
        bytes += header().toUtf8() + '\n';
    bytes += line(row).toUtf8() + '\n';
    if (m_file.write(bytes) != bytes.size() || !m_file.flush()) {
        *reason = m_file.errorString();
        return false;
    }
    m_needsHeader = false;
    return true;
}

QString ProductionLog::header()
{
    return QStringLiteral("time,port,speed,identity_before,identity_after,code,result,parameters");
}

QString ProductionLog::field(const QString &text)
{
    const QString clean = printableText(text);
    const bool quote = clean.contains(u',') || clean.contains(u'"') || clean != clean.trimmed();
    if (!quote)
        return clean;
    QString quoted = clean;
    quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString ProductionLog::line(const Row &row)
{
    const QStringList fields = {
        row.time.toUTC().toString(Qt::ISODate), row.port, row.speed, row.identityBefore,
        row.identityAfter, row.code, row.result, QString::number(row.parameters),
    };
    QStringList out;
    for (const QString &f : fields)
        out << field(f);
    return out.join(u',');
}

} // namespace tessary
