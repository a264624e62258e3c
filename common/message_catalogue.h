// Message numbers and the catalogue that turns them into texts. Every operation that can
// fail returns a message number; the last number of a program's catalogue is its success
// code. The mechanism is shared; each program links the definition of its own catalogue.
#pragma once

#include <span>

namespace talvex {

class MessageCatalogue {
 public:
  constexpr explicit MessageCatalogue(std::span<const char* const> texts) : texts_(texts) {}

  int success_code() const { return static_cast<int>(texts_.size()) - 1; }
  bool contains(int number) const { return number >= 0 && number <= success_code(); }
  // The text of a number, or the empty fallback text for a number outside the catalogue.
  const char* text(int number) const { return contains(number) ? texts_[number] : ""; }

 private:
  std::span<const char* const> texts_;
};

// The catalogue of the program being built; defined once by each program.
const MessageCatalogue& program_catalogue();

inline const char* message_text(int number) { return program_catalogue().text(number); }

}  // namespace talvex
