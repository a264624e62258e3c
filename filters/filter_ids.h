// Class identifiers and friendly names of the test cameras in talvex_filters.dll, for the
// module, its registration and the tests that look the cameras up.
#pragma once

#include <guiddef.h>

namespace talvex::filters {

// {8911C229-E52B-49CB-BAB0-97E04F63B2F1}
inline constexpr GUID kClsidTestCamera = {
    0x8911c229, 0xe52b, 0x49cb, {0xba, 0xb0, 0x97, 0xe0, 0x4f, 0x63, 0xb2, 0xf1}};
// {EDB54A25-826E-46BB-ACBA-FEA045C3A4A2}
inline constexpr GUID kClsidStillCamera = {
    0xedb54a25, 0x826e, 0x46bb, {0xac, 0xba, 0xfe, 0xa0, 0x45, 0xc3, 0xa4, 0xa2}};
// {F609BC7F-3502-46A6-9BA9-21B7E381B957}
inline constexpr GUID kClsidReplayCamera = {
    0xf609bc7f, 0x3502, 0x46a6, {0x9b, 0xa9, 0x21, 0xb7, 0xe3, 0x81, 0xb9, 0x57}};

inline constexpr const wchar_t* kTestCameraName = L"Talvex Test Camera";
inline constexpr const wchar_t* kStillCameraName = L"Talvex Still Camera";
inline constexpr const wchar_t* kReplayCameraName = L"Talvex Replay Camera";

}  // namespace talvex::filters
