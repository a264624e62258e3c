// The capture program's message catalogue. Numbers without a message hold empty texts,
// so that the range stays 0..54 and 54 remains the success code.
#include <iterator>

#include "app/talvex_messages.h"
#include "common/message_catalogue.h"

namespace talvex {
namespace {

constexpr const char* kTexts[] = {
    /* 000 */ "Unpredictable behaviour. (000)",
    /* 001 */ "Unable to initialize COM interface. (001)",
    /* 002 */ "Unable to register \"windows class\". (002)",
    /* 003 */ "Unable to create \"main window\". (003)",
    /* 004 */ "Unable to show \"application window\". (004)",
    /* 005 */ "Unable to create \"Filter Graph Manager\". (005)",
    /* 006 */ "Unable to create \"Capture Graph Builder\". (006)",
    /* 007 */ "Unable to create \"System Device Enumerator\". (007)",
    /* 008 */ "Unable to find \"Video Capture Devices\". (008)",
    /* 009 */ "Unable to find the first available \"Video Capture Device\". (009)",
    /* 010 */ "Unable to create \"Sample Grabber Filter\". (010)",
    /* 011 */ "Unable to enable \"Sample Capture\". (011)",
    /* 012 */ "Unable to save \"Graph File\". (012)",
    /* 013 */ "Unable to start \"Capture Timer\". (013)",
    /* 014 */ "Unable to capture video signal. (014)",
    /* 015 */ "Unable to capture sample frame. (015)",
    /* 016 */ "Unable to save BMP file. (016)",
    /* 017 */ "Unable to save JPG file. (017)",
    /* 018 */ "Unable to change to \"Output directory\".\nKeeping current settings. (018)",
    /* 019 */ "Unable to find the \"Compressor Filter\" specified. (019)",
    /* 020 */ "Unable to use the \"Compressor Filter\" specified. (020)",
    /* 021 */ "Unable to initialize \"Video Capture Devices\". (021)",
    /* 022 */ "Unable to find \"Video Capture Devices\". (022)",
    /* 023 */ "Unable to find \"Video Capture Devices\". (023)",
    /* 024 */ "Unable to get the \"Video Capture Device\" specified. (024)",
    /* 025 */ "Unable to find \"configuration file\". Using defaults. (025)",
    /* 026 */ "Invalid \"configuration file\" version. Using defaults. (026)",
    /* 027 */ "Unable to use the \"Compressor Filter\" specified. (027)",
    /* 028 */ "Unable to change to \"Output directory\" specified in \"configuration file\". (028)",
    /* 029 */ "Unable to initialize \"Compressor Filters\". (029)",
    /* 030 */ "Unable to find \"Compressor Filters\". (030)",
    /* 031 */ "Unable to find \"Compressor Filters\". (031)",
    /* 032 */ "Unable to save \"lst\" file. (032)",
    /* 033 */ "\"Talvex_cfg.lst\" created. (033)",
    /* 034 */ "Unable to use the \"Video Device\" specified. (034)",
    /* 035 */ "Unable to use the \"Video Device\" specified. (035)",
    /* 036 */ "Unable to use the \"Compressor\" specified. (036)",
    /* 037 */ "Unable to save \"Configuration File\". (037)",
    /* 038 */ "Unable to access Internet. (038)",
    /* 039 */ "Unable to access Internet. (039)",
    /* 040 */ "Unable to open FTP file connection. (040)",
    /* 041 */ "Unable to open FTP target file. (041)",
    /* 042 */ "Unable to read FTP target file. (042)",
    /* 043 */ "Incomplete FTP transfer. (043)",
    /* 044 */ "Invalid \"configuration file\" terminator. (044)",
    /* 045 */ "Interrupted recording recovered. (045)",
    /* 046 */ "Unable to save the recording. (046)",
    /* 047 */ "\"Video Capture Device\" stopped sending frames. (047)",
    /* 048 */ "\"Video Capture Device\" is sending frames again. (048)",
    /* 049 */ "Invalid setting in \"configuration file\". Using its default. (049)",
    /* 050 */ "Old videos deleted to make room. (050)",
    /* 051 */ "Unable to run the event command. (051)",
    /* 052 */ "Unable to use \"Talvex_mask.bmp\". Ignoring it. (052)",
    /* 053 */ "Unable to start the live view. (053)",
    /* 054 */ "OK!",
};
static_assert(std::size(kTexts) == msg::kOk + 1, "the success text closes the catalogue");

constexpr MessageCatalogue kCatalogue{kTexts};

}  // namespace

const MessageCatalogue& program_catalogue() { return kCatalogue; }

}  // namespace talvex
