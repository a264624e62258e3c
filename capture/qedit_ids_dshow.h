// Class ids of the sample grabber and the null renderer: MinGW's qedit.h declares their
// interfaces but not these, which its strmiids library does define.
#pragma once

#include <dshow.h>
#include <qedit.h>

EXTERN_C const CLSID CLSID_SampleGrabber;
EXTERN_C const CLSID CLSID_NullRenderer;
