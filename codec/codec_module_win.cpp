// talvex_codec.dll: the product's video compressor, installed with the programs.
#include "codec/codec_registration_win.h"
#include "codec/mjpeg_compressor_dshow.h"
#include "dshow/module_win.h"

namespace talvex::dshow {

std::span<const FilterEntry> module_filters() {
  static const FilterEntry filters[] = {
      {codec::kMjpegCompressorRegistration, codec::create_mjpeg_compressor},
  };
  return filters;
}

}  // namespace talvex::dshow
