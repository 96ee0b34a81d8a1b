// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace ravixtest {

// Records every Qt log message while it lives (from any thread) and passes each one on to the
// handler that was installed before it. Only one capture may be alive at a time.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    // Messages of one type, oldest first.
    QStringList messages(QtMsgType type) const;
    // Whether a message of the type contains the fragment.
    bool contains(QtMsgType type, const QString &fragment) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg);

    mutable QMutex m_mutex;
    QList<QPair<QtMsgType, QString>> m_messages;
    QtMessageHandler m_previous = nullptr;
};

} // namespace ravixtest
