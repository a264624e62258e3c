// A file writer filter: one input pin for MEDIATYPE_Stream that hands the upstream
// multiplexer an IStream on the file named with IFileSinkFilter::SetFileName. The file
// is opened when the multiplexer first asks for the stream, and closed when it lets the
// stream go (at the end of its Stop). IFileSinkFilter2::SetMode chooses how it opens:
// AM_FILE_OVERWRITE (the default) creates the file anew, 0 leaves an existing file alone
// and writes over it, as a preallocated capture file wants.
#pragma once

#include <windows.h>

#include <dshow.h>

namespace talvex {

HRESULT create_file_writer(IBaseFilter** out);

}  // namespace talvex
