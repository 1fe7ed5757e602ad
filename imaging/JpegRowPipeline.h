// Decoding and consuming the rows of one JPEG at the same time: a second thread pulls rows from the
// scanline reader into a small ring of rows while the calling thread consumes them in order. The
// normalizer feeds them straight into the resampler, so a large photo is never held whole.
#pragma once

#include <cstdint>
#include <functional>

#include "imaging/JpegDecoder.h"

namespace imaging {

// `reader` has been opened. Calls consume(row) for rows 0 .. Height()-1 in order on the calling thread
// (each row Width() pixels, valid only during the call; bits 24-31 of a pixel are not to be relied on)
// and returns the reader's verdict (Finish()):
// false when the data is damaged or ends early, in which case not every row may have been consumed.
// An exception thrown by `consume` stops the decoding thread and is passed on.
bool PipeJpegRows(JpegScanlineReader& reader, const std::function<void(const std::uint32_t*)>& consume);

// The same with decoding and consuming one after the other on the calling thread, whatever the size.
bool ReadJpegRows(JpegScanlineReader& reader, const std::function<void(const std::uint32_t*)>& consume);

}  // namespace imaging
