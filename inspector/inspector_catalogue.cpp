// The inspector's message catalogue: 30 texts, 29 is the success code. Numbers 000 and
// 006 to 015, 022 and 023 are never returned but keep their places.
#include "common/message_catalogue.h"

namespace talvex {
namespace {

constexpr const char* kTexts[] = {
    /* 000 */ "Unpredictable behaviour. (000)",
    /* 001 */ "Unable to initialize COM interface. (001)",
    /* 002 */ "Unable to register \"windows class\". (002)",
    /* 003 */ "Unable to create \"main window\". (003)",
    /* 004 */ "Unable to show \"application window\". (004)",
    /* 005 */ "Unable to start \"Timer\". (005)",
    /* 006 */ "Unable to initialize \"Video Capture Devices\". (006)",
    /* 007 */ "Unable to find \"Video Capture Devices\". (007)",
    /* 008 */ "Unable to find \"Video Capture Devices\". (008)",
    /* 009 */ "Unable to initialize \"Compressor Filters\". (009)",
    /* 010 */ "Unable to find \"Compressor Filters\". (010)",
    /* 011 */ "Unable to find \"Compressor Filters\". (011)",
    /* 012 */ "Unable to save \"Configuration File\". (012)",
    /* 013 */ "Unable to save \"lst\" file. (013)",
    /* 014 */ "\"Talvex_cfg.lst\" created. (014)",
    /* 015 */ "\"Talvex.cfg\" generated. (015)",
    /* 016 */ "Select a video first.",
    /* 017 */ "Do you really want to delete this video?",
    /* 018 */ "Video deleted.",
    /* 019 */ "Unable to delete video. (019)",
    /* 020 */ "Select a video first.",
    /* 021 */ "Unable to inspect the selected video. (021)",
    /* 022 */ "Video unavailable. (022)",
    /* 023 */ "Unable to inspect the selected video. (023)",
    /* 024 */ "Unable to capture photo. (024)",
    /* 025 */ "Unable to save photo. (025)",
    /* 026 */ "Photo saved.",
    /* 027 */ "Do you really want to delete ALL listed videos?",
    /* 028 */ "Videos deleted.",
    /* 029 */ "<OK>",
};

constexpr MessageCatalogue kCatalogue{kTexts};

}  // namespace

const MessageCatalogue& program_catalogue() { return kCatalogue; }

}  // namespace talvex
