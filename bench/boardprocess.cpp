#include "boardprocess.h"

namespace tessary::bench {

BoardProcess::BoardProcess(const QStringList &options, const QString &log)
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(QStringLiteral(TESSARY_BOARDSIM_PATH), options + QStringList{QStringLiteral("--log"), log});
    if (!m_process.waitForStarted(5000)) {
        m_error = m_process.errorString();
        return;
    }
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(5000)) {
            m_error = QStringLiteral("the board simulator printed no device path");
            return;
        }
    }
    m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
}

BoardProcess::~BoardProcess()
{
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

} // namespace tessary::bench
