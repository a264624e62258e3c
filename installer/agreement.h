// The agreement text that the installer shows: "LICENSE.txt" read in pieces of at most 254
// characters, each line feed turned into the carriage return and line feed that a
// multi-line edit control needs.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace talvex::inst {

// The agreement buffer's size, terminator included.
constexpr std::size_t kAgreementSize = 25600;
constexpr std::size_t kAgreementMaxLength = kAgreementSize - 1;
// A piece is one line read with a limit of 255 bytes, terminator included.
constexpr int kPieceBufferSize = 255;

class AgreementText {
 public:
  // Appends one piece as read (up to and including its line feed, if any). A line feed at
  // its end becomes "\r\n" (one that already follows a carriage return is left as it is).
  // What does not fit the buffer is cut off, never half a line end; returns false once the
  // text is full and later pieces would be lost.
  bool append_piece(std::string_view piece);
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  bool full_ = false;
};

// Reads an open agreement file to its end.
std::string read_agreement(std::FILE* file);

}  // namespace talvex::inst
