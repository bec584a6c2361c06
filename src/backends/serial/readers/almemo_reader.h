#pragma once
// ALMEMO: one request "s" answers with the list of every measuring point; one
// read fills every ALMEMO slot on the port whose channel names a listed point.

#include "backends/serial/readers/reader_support.h"
#include "devices/reader.h"

namespace karvelo::serial {

// Result 1 when the list was read (completely or up to where it broke off;
// points after a cut are not filled), 0 with no port or a malformed echo or
// time stamp, -1 when no echo arrived. Only ever called right after a request.
devices::ReaderResult ReadAlmemoList(const ReadContext& context, int slot, bool requested);

}  // namespace karvelo::serial
