#include "installer/agreement.h"

#include <cstring>

namespace talvex::inst {

bool AgreementText::append_piece(std::string_view piece) {
  if (full_) return false;
  std::string converted(piece);
  if (!converted.empty() && converted.back() == '\n' &&
      (converted.size() < 2 || converted[converted.size() - 2] != '\r')) {
    converted.insert(converted.size() - 1, 1, '\r');
  }
  const std::size_t room = kAgreementMaxLength - text_.size();
  if (converted.size() <= room) {
    text_ += converted;
    if (text_.size() == kAgreementMaxLength) full_ = true;
    return true;
  }
  // Too long for what is left: keep the part that fits, without a lone carriage return.
  std::size_t keep = room;
  if (keep > 0 && converted[keep - 1] == '\r') --keep;
  text_.append(converted, 0, keep);
  full_ = true;
  return false;
}

std::string read_agreement(std::FILE* file) {
  AgreementText agreement;
  char piece[kPieceBufferSize];
  while (std::fgets(piece, sizeof piece, file) != nullptr) {
    // A NUL inside the file ends the piece where the text functions would see its end.
    if (!agreement.append_piece(std::string_view(piece, std::strlen(piece)))) break;
  }
  return agreement.text();
}

}  // namespace talvex::inst
