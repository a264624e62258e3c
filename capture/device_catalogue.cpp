#include "capture/device_catalogue.h"

#include <cstring>
#include <string>

#include "app/talvex_messages.h"
#include "common/system_calls.h"

namespace talvex {
namespace {

struct ListingResults {
  int no_enumerator;
  int not_enumerable;
  int no_name;
};

template <typename Table>
int list_names(DeviceEnumerator& enumerator, DeviceCategory category, std::size_t buffer_size,
               const ListingResults& results, Table& table) {
  table.clear();
  switch (enumerator.open(category)) {
    case DeviceEnumerator::Open::kNoEnumerator:
      table.append_none();
      return results.no_enumerator;
    case DeviceEnumerator::Open::kNotEnumerable:
      table.append_none();
      return results.not_enumerable;
    case DeviceEnumerator::Open::kOk:
      break;
  }
  enumerator.for_each(buffer_size, [&table](const std::optional<std::string>& name) {
    if (name) table.add_found(*name);
  });
  const bool found = table.count() > 0;
  table.append_none();
  return found ? msg::kOk : results.no_name;
}

template <typename Table>
bool write_table(std::FILE* file, const Table& table) {
  bool written = true;
  for (int i = 0; i < table.count(); ++i) {
    const std::string line = std::string(table[i]) + "\n";
    written = system_calls().write_file(line.data(), line.size(), file) == line.size() && written;
  }
  return written;
}

}  // namespace

int list_video_devices(DeviceEnumerator& enumerator, DeviceTable& devices) {
  return list_names(
      enumerator, DeviceCategory::kVideoInput, kDeviceNameBuffer,
      {msg::kDeviceListNoEnumerator, msg::kDeviceListNotEnumerable, msg::kDeviceListNoName},
      devices);
}

int list_video_compressors(DeviceEnumerator& enumerator, CompressorTable& compressors) {
  return list_names(enumerator, DeviceCategory::kVideoCompressor, kCompressorNameBuffer,
                    {msg::kCompressorListNoEnumerator, msg::kCompressorListNotEnumerable,
                     msg::kCompressorListNoName},
                    compressors);
}

int write_list_file(const DeviceTable& devices, const CompressorTable& compressors) {
  ScopedFile file(system_calls().open_file(kListFileName, "w+b"));
  if (!file) return msg::kListFileFailed;
  bool written = write_table(file.get(), devices);
  written = write_table(file.get(), compressors) && written;
  written = file.close() && written;
  // A list cut short by a full disk is reported rather than claimed as written.
  return written ? msg::kListFileWritten : msg::kListFileFailed;
}

}  // namespace talvex
