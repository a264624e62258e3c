// The capture program's name and version; also read by the resource compiler.
#pragma once

#define TALVEX_VERSION_MAJOR 3
#define TALVEX_VERSION_MINOR 0
#define TALVEX_VERSION_PATCH 2
#define TALVEX_VERSION_TEXT "3.0.2"
#define TALVEX_PROGRAM_CAPTION "Talvex Capture"
