// talvex_codec.dll: the product's video compressor, installed with the programs.
#include <dshow.h>

#include "codec/codec_ids.h"
#include "codec/mjpeg_compressor_dshow.h"
#include "dshow/module_win.h"

namespace talvex::dshow {

std::span<const FilterEntry> module_filters() {
  static const FilterEntry filters[] = {
      {&codec::kClsidMjpegCompressor, codec::kMjpegCompressorName, &CLSID_VideoCompressorCategory,
       codec::create_mjpeg_compressor, false},
  };
  return filters;
}

}  // namespace talvex::dshow
