// talvex_codec.dll: the product's video compressor, installed with the programs.
#include <dshow.h>

#include "filters/filter_ids.h"
#include "filters/mjpeg_compressor_dshow.h"
#include "filters/module_win.h"

namespace talvex::filters {

std::span<const FilterEntry> module_filters() {
  static const FilterEntry filters[] = {
      {&kClsidMjpegCompressor, kMjpegCompressorName, &CLSID_VideoCompressorCategory,
       create_mjpeg_compressor, false},
  };
  return filters;
}

}  // namespace talvex::filters
