// The installer's message catalogue. Numbers 14 and 17 to 20 carry no message and hold
// empty texts, so that the range stays 0..21 and 21 remains the success code.
#include <iterator>

#include "common/message_catalogue.h"
#include "installer/installer_messages.h"

namespace talvex {
namespace {

constexpr const char* kTexts[] = {
    /* 00 */ "Unpredictable behaviour. (000)",
    /* 01 */ "Unable to initialize COM interface. (001)",
    /* 02 */ "Unable to register \"windows class\". (002)",
    /* 03 */ "Unable to create \"main window\". (003)",
    /* 04 */ "Unable to show \"application window\". (004)",
    /* 05 */ "Unable to create installation directory. (005)",
    /* 06 */ "Unable to create version directory. (006)",
    /* 07 */ "Unable to copy installation file. (007)",
    /* 08 */ "Unable to copy installation file. (008)",
    /* 09 */ "Installation completed!",
    /* 10 */
    "ATTENTION: Videos saved in the installation directory will be removed.\n\t\tDo you really "
    "want to continue?",
    /* 11 */ "Uninstall concluded!",
    /* 12 */ "Unable to get installation directory! (012)",
    /* 13 */ "Unable to correctly install the software! (013)",
    /* 14 */ "",
    /* 15 */ "Do you want to quit Talvex Install?",
    /* 16 */
    "Please, extract ALL the files to a temporary directory and\nrun the installation program "
    "from this directory! (016)",
    /* 17 */ "",
    /* 18 */ "",
    /* 19 */ "",
    /* 20 */ "",
    /* 21 */ "OK!",
};
static_assert(std::size(kTexts) == inst::kOk + 1, "the success text closes the catalogue");

constexpr MessageCatalogue kCatalogue{kTexts};

}  // namespace

const MessageCatalogue& program_catalogue() { return kCatalogue; }

}  // namespace talvex
