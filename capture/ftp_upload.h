// Sends the snapshot to the FTP server under its remote name, replacing what is there.
#pragma once

#include "app/settings.h"

namespace talvex {

// Opens a session, connects in active mode, stores the local file in binary mode under
// ftp.destination and closes everything it opened: 54, or 38 to 43. The file is stored
// under a staging name beside ftp.destination and then renamed onto it (a server that
// refuses that gets a plain store under the name). The attempt runs on a thread of its own
// and is abandoned after kUploadDeadline (snapshot_upload.h), with the number of the phase
// it was in.
int ftp_upload(const char* local_file, const FtpTexts& ftp);

}  // namespace talvex
