// The sample grabber and null renderer of qedit: MinGW's qedit.h declares the interfaces
// but not the class identifiers (libstrmiids defines them).
#pragma once

#include <windows.h>

#include <dshow.h>
#include <qedit.h>

extern "C" {
extern const CLSID CLSID_SampleGrabber;
extern const CLSID CLSID_NullRenderer;
}
