// The recorder filter: the sink of the capture stream (after the compressor, or in the
// camera's own format when there is none), the same on Windows and under Wine. It hands
// every sample to its recording stream on the streaming thread; the owner thread starts,
// stops and splits recordings on that stream. Created directly, never registered.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <memory>

#include "capture/recording_stream.h"

namespace talvex {

// A media type as the recorder keeps it.
RecordingFormat recording_format(const AM_MEDIA_TYPE& type);

// The filter around `stream`; its input pin refuses at connection a type the recorder
// cannot store (not video with a VIDEOINFOHEADER the AVI writer takes).
HRESULT create_recorder_filter(std::shared_ptr<RecordingStream> stream, IBaseFilter** out);

}  // namespace talvex
