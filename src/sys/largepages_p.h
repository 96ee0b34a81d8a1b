// SPDX-License-Identifier: MIT
#pragma once

// Output buffers of several megabytes that are filled once from start to end. Where the system
// backs memory with small pages, the first write to each costs a fault; on virtual machines
// that costs more than decoding the page's bytes. Where the system offers large pages for
// chosen memory (Linux's transparent huge pages, not switched off), such a buffer asks for
// them, as allocators do for large blocks; elsewhere these functions change nothing.

#include <cstddef>

namespace ravix {
namespace largepages {

/// What malloc and QByteArray together put in front of the data of a block of their own.
constexpr std::size_t HEADERS = 64;

/// A capacity of at least @p size (and at most @p limit) for a buffer whose block, headers
/// included, then fills whole large pages, so that the system lays it on their boundaries.
/// Sizes below half a large page come back as they are.
std::size_t capacityFor(std::size_t size, std::size_t limit);

/// Asks for large pages for the unwritten buffer [@p data, @p data + @p size), of which about
/// @p expected bytes will be written. Only large pages that no other allocation shares are
/// asked for: those wholly inside the buffer, and the first one when the buffer begins right
/// after its block's headers on its boundary (a block of its own) and @p expected fills a
/// good part of it.
void advise(void *data, std::size_t size, std::size_t expected);

} // namespace largepages
} // namespace ravix
