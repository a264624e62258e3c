// The video capture devices and video compressors of the system, by friendly name, in two
// fixed tables that always end in "<none>"; and the list file "Talvex.lst".
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/fixed_text.h"

namespace talvex {

inline constexpr char kListFileName[] = "Talvex.lst";

// The friendly-name conversion buffers (terminator included), shared with the graph's
// name lookup so that a listed name always matches.
constexpr std::size_t kDeviceNameBuffer = 74;
constexpr std::size_t kCompressorNameBuffer = 99;

template <std::size_t Capacity, std::size_t EntrySize>
class NameTable {
 public:
  static constexpr std::size_t kCapacity = Capacity;

  int count() const { return count_; }
  const char* operator[](int index) const { return names_[index].c_str(); }
  void clear() { count_ = 0; }
  // Stores a found name; the last slot stays free for "<none>", so names beyond
  // Capacity - 1 are left out.
  bool add_found(std::string_view name) {
    if (count_ >= static_cast<int>(Capacity) - 1) return false;
    names_[count_++] = name;
    return true;
  }
  void append_none();

 private:
  std::array<FixedText<EntrySize>, Capacity> names_{};
  int count_ = 0;
};

using DeviceTable = NameTable<25, 75>;
using CompressorTable = NameTable<100, 100>;

enum class DeviceCategory { kVideoInput, kVideoCompressor };

// How one category of the system's devices is enumerated: the platform's device
// enumerator on Windows.
class DeviceEnumerator {
 public:
  enum class Open { kOk, kNoEnumerator, kNotEnumerable };
  virtual ~DeviceEnumerator() = default;
  virtual Open open(DeviceCategory category) = 0;
  // Visits every device of the opened category in the system's order with its friendly
  // name converted into `buffer_size` bytes, or nullopt when its name can't be read.
  virtual void for_each(
      std::size_t buffer_size,
      const std::function<void(const std::optional<std::string>& name)>& visit) = 0;
};

int list_video_devices(DeviceEnumerator& enumerator, DeviceTable& devices);
int list_video_compressors(DeviceEnumerator& enumerator, CompressorTable& compressors);
int write_list_file(const DeviceTable& devices, const CompressorTable& compressors);

template <std::size_t Capacity, std::size_t EntrySize>
void NameTable<Capacity, EntrySize>::append_none() {
  names_[count_++] = "<none>";
}

}  // namespace talvex
