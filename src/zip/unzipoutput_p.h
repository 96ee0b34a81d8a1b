// SPDX-License-Identifier: MIT
#pragma once

#include "zip/unzip.h"

#include <QDateTime>
#include <QDir>
#include <QString>

#include <functional>

class QIODevice;

namespace ravix {
namespace zipoutput {

/// A directory below an extraction target, reached without following any link that
/// another account may have planted in the target. On POSIX every step goes through a
/// directory descriptor; files are written beside their name and renamed over it, so a link,
/// FIFO or hard link found at the name is replaced, never written through.
class OutputDir
{
public:
    OutputDir() = default;
    ~OutputDir();
    OutputDir(const OutputDir &) = delete;
    OutputDir &operator=(const OutputDir &) = delete;

    /// Opens \a relative (a cleaned, "/"-separated path, may be empty) below \a base, creating
    /// the missing directories. \a base itself is trusted as the caller named it and is
    /// created only with \a createBase. A link on the way is refused with a debug line.
    UnZip::ErrorCode open(const QDir &base, const QString &relative, bool createBase);

    /// Writes the file \a name in this directory: \a fill writes its bytes into the device it
    /// gets; only when it returns Ok is the file put in place (with the given wall-clock time),
    /// otherwise nothing is left.
    UnZip::ErrorCode writeFile(const QString &name, const QDateTime &wallClock,
                               const std::function<UnZip::ErrorCode(QIODevice *)> &fill);

    QString path() const { return m_path; }

private:
#ifndef Q_OS_WIN
    int m_fd = -1;
    int m_utcOffset = 0;
    bool m_utcOffsetKnown = false;
#endif
    QString m_path;
};

} // namespace zipoutput
} // namespace ravix
