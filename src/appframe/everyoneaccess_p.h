// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace ravix {

// Grants the group of all users (S-1-1-0) full, inherited access to a path.
// Only Windows has access lists; elsewhere the permission mask is the whole of it.
void grantEveryoneFullAccess(const QString &path);

} // namespace ravix
