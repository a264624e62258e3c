#include "capture/graph_file_dshow.h"

#include <cstring>
#include <string>

#include "common/com_ptr_win.h"

namespace talvex {

HRESULT save_graph_file(IUnknown* graph, const char* file_name) {
  if (!graph) return E_FAIL;
  std::wstring wide(file_name, file_name + std::strlen(file_name));
  ComPtr<IStorage> storage;
  HRESULT hr = ::StgCreateDocfile(
      wide.c_str(), STGM_CREATE | STGM_TRANSACTED | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
      &storage);
  if (FAILED(hr)) return hr;
  ComPtr<IStream> stream;
  hr = storage->CreateStream(L"ActiveMovieGraph", STGM_WRITE | STGM_CREATE | STGM_SHARE_EXCLUSIVE,
                             0, 0, &stream);
  if (FAILED(hr)) return hr;
  ComPtr<IPersistStream> persist;
  hr = graph->QueryInterface(IID_IPersistStream, persist.out_void());
  if (SUCCEEDED(hr)) hr = persist->Save(stream.get(), TRUE);
  stream.reset();
  if (SUCCEEDED(hr)) hr = storage->Commit(STGC_DEFAULT);
  return hr;
}

}  // namespace talvex
