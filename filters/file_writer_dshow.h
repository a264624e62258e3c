// A file writer filter: one input pin for MEDIATYPE_Stream that hands the upstream
// multiplexer an IStream on the file named with IFileSinkFilter::SetFileName. The file
// is created anew (CREATE_ALWAYS) when the multiplexer first asks for the stream, and
// closed when it lets the stream go (at the end of its Stop).
#pragma once

#include <windows.h>

#include <dshow.h>

namespace talvex::filters {

HRESULT create_file_writer(IBaseFilter** out);

}  // namespace talvex::filters
