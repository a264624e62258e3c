// A filter graph saved as a compound file with one stream "ActiveMovieGraph", as the
// platform's graph editors read it. Used by the capture program and the inspector.
#pragma once

#include <dshow.h>

namespace talvex {

// S_OK, or the failing call's code; E_FAIL without a graph.
HRESULT save_graph_file(IUnknown* graph, const char* file_name);

}  // namespace talvex
