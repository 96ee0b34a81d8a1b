// SPDX-License-Identifier: MIT
#include "messagecapture.h"

#include <QAtomicPointer>

namespace ravixtest {

namespace {
QAtomicPointer<MessageCapture> g_capture;
}

MessageCapture::MessageCapture()
{
    g_capture.storeRelease(this);
    m_previous = qInstallMessageHandler(&MessageCapture::handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(m_previous);
    g_capture.storeRelease(nullptr);
}

void MessageCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    MessageCapture *capture = g_capture.loadAcquire();
    if (!capture)
        return;
    {
        QMutexLocker lock(&capture->m_mutex);
        capture->m_messages.append(qMakePair(type, msg));
    }
    if (capture->m_previous)
        capture->m_previous(type, context, msg);
}

QStringList MessageCapture::messages(QtMsgType type) const
{
    QMutexLocker lock(&m_mutex);
    QStringList result;
    for (const auto &message : m_messages) {
        if (message.first == type)
            result.append(message.second);
    }
    return result;
}

bool MessageCapture::contains(QtMsgType type, const QString &fragment) const
{
    const QStringList texts = messages(type);
    for (const QString &text : texts) {
        if (text.contains(fragment))
            return true;
    }
    return false;
}

void MessageCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_messages.clear();
}

} // namespace ravixtest
