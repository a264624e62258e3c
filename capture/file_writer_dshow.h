// A file writer filter of our own: one input pin that hands the upstream multiplexer an
// IStream on a file created anew. Used where the platform's capture graph builder can't
// make the AVI writer itself.
#pragma once

#include <dshow.h>

#include "common/com_ptr_win.h"

namespace talvex {

ComPtr<IBaseFilter> make_file_writer(const wchar_t* file_name);

}  // namespace talvex
