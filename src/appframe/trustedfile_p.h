// SPDX-License-Identifier: MIT
#pragma once

#include <QFile>
#include <QString>

namespace ravix {

// Opens for reading a file whose content steers privileged work (an update plan, a stored
// update document, the service manifest) without following a link at its name, and only when
// it is a regular file of this process's account or root's that no other account may change.
// Otherwise false, with the reason in why. POSIX only checks; on Windows it is a plain open.
bool openTrustedFile(QFile &file, const QString &path, QString *why);

// The same checks on a file that is read whole.
bool readTrustedFile(const QString &path, QByteArray *data, QString *why);

#ifndef Q_OS_WIN
// A descriptor of the directory at path, not followed through a link, when it belongs to this
// process's account or root; otherwise -1 with the reason in why.
int openOwnDirectory(const QString &path, QString *why);
#endif

} // namespace ravix
