#include "tests/core/motion_scenes.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace talvex::testing {
namespace {

std::uint32_t mix(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

std::uint32_t hash(int x, int y, std::uint32_t seed) {
  return mix(static_cast<std::uint32_t>(x) * 0x9E3779B1u ^
             mix(static_cast<std::uint32_t>(y) ^ mix(seed)));
}

struct Colour {
  float b, g, r;
};

// What moves in a frame, and how it is lit.
struct FrameSetup {
  float offset[3] = {0, 0, 0};  // added to blue, green, red
  float shadow_front = -10.0f;  // the cloud's shadow covers what lies left of this (u)
  float shadow_width = 0.9f;    // its soft edge
  float shadow_depth = 0.45f;
  float person = -10.0f;  // the person's left edge (u); off the picture by default
  float close = 10.0f;    // the close object's left edge (u)
  float sway = 0.0f;      // the tree's crown, in pixels
  float exposure = 1.0f;  // the share of the light the camera lets through
  std::uint32_t noise_seed = 0;
};

bool inside(float u, float v, float u0, float u1, float v0, float v1) {
  return u >= u0 && u < u1 && v >= v0 && v < v1;
}

// The room without anything that moves; (x, y) from the top-left corner.
Colour room(int x, int y, int width, int height) {
  const float u = static_cast<float>(x) / width;
  const float v = static_cast<float>(y) / height;
  const float grain = static_cast<float>(hash(x, y, 7) % 17) - 8.0f;
  Colour c;
  if (inside(u, v, 0.05f, 0.30f, 0.08f, 0.45f)) {
    const bool frame =
        !inside(u, v, 0.065f, 0.285f, 0.10f, 0.43f) || std::fabs(u - 0.175f) < 0.006f;
    if (frame) return Colour{55, 60, 64};
    return Colour{250, 244, 236};  // the bright sky: the lamp's step clips it
  }
  if (inside(u, v, 0.36f, 0.50f, 0.14f, 0.34f)) {
    const bool stripe = ((x + y) / 5) % 2 == 0;
    c = stripe ? Colour{190, 110, 60} : Colour{90, 150, 200};
  } else if (inside(u, v, 0.55f, 0.92f, 0.42f, 0.82f)) {
    const bool plank_edge = x % 10 == 0;
    const bool knob = std::fabs(u - 0.735f) < 0.01f && std::fabs(v - 0.5f) < 0.012f;
    c = knob ? Colour{40, 170, 200} : Colour{55, 85, 125};
    if (plank_edge) c = Colour{30, 50, 85};
  } else if (v >= 0.82f) {
    const bool light = ((x / 16) + (y / 8)) % 2 == 0;
    c = light ? Colour{130, 138, 145} : Colour{80, 85, 92};
  } else {
    const float wall = 150.0f - 30.0f * v;
    c = Colour{wall - 14, wall, wall + 12};
  }
  c.b += grain;
  c.g += grain;
  c.r += grain;
  return c;
}

// The tree in the top-right corner, its crown moved by `sway` pixels; false off the tree.
bool tree(int x, int y, int width, int height, float sway, Colour& c) {
  const float u = static_cast<float>(x) / width;
  const float v = static_cast<float>(y) / height;
  if (inside(u, v, 0.82f, 0.86f, 0.45f, 0.60f)) {
    c = Colour{30, 55, 80};
    return true;
  }
  const float cu = 0.82f + sway / width;
  const float du = (u - cu) / 0.2f, dv = (v - 0.3f) / 0.3f;
  if (du * du + dv * dv > 1.0f) return false;
  const int leaf_x = static_cast<int>(std::floor((x - sway) / 3.0f));
  const bool light = hash(leaf_x, y / 3, 11) % 2 == 0;
  c = light ? Colour{60, 175, 95} : Colour{25, 60, 30};
  return true;
}

// A person 0.2 of the width wide and 0.55 of the height tall (a tenth of the picture),
// left edge at `left` (u); false off the person.
bool person(int x, int y, int width, int height, float left, Colour& c) {
  const float pu = (static_cast<float>(x) / width - left) / 0.2f;
  const float pv = (static_cast<float>(y) / height - 0.40f) / 0.55f;
  if (pu < 0 || pu >= 1 || pv < 0 || pv >= 1) return false;
  const int px = static_cast<int>(pu * 0.2f * width);
  if (pv < 0.18f) {
    if (pu < 0.3f || pu > 0.7f) return false;
    c = Colour{130, 160, 205};
  } else if (pv < 0.6f) {
    const bool stripe = (static_cast<int>(pv * 0.55f * height) / 4) % 2 == 0;
    c = stripe ? Colour{70, 45, 35} : Colour{35, 25, 20};
  } else {
    if (pu > 0.44f && pu < 0.56f) return false;
    const float grain = static_cast<float>(hash(px, y, 13) % 31) - 15.0f;
    c = Colour{95 + grain, 62 + grain, 50 + grain};
  }
  return true;
}

// A coat right in front of the lens: 0.8 of the width from `left`, the lower three quarters
// of the height (six tenths of the picture); false off it.
bool close_object(int x, int y, int width, int height, float left, Colour& c) {
  const float u = static_cast<float>(x) / width;
  const float v = static_cast<float>(y) / height;
  if (u < left || u >= left + 0.8f || v < 0.25f) return false;
  const int ox = x - static_cast<int>(left * width);
  const float fold = 22.0f * std::sin(ox * 0.11f) + 10.0f * std::sin(y * 0.05f + ox * 0.03f);
  const float grain = static_cast<float>(hash(ox, y, 17) % 21) - 10.0f;
  const bool button = std::fabs(u - left - 0.4f) < 0.012f && (y % 40) < 6;
  if (button) {
    c = Colour{20, 20, 22};
    return true;
  }
  c = Colour{80 + fold + grain, 88 + fold + grain, 96 + fold + grain};
  return true;
}

std::uint8_t to_byte(float value) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

Picture render(const FrameSetup& f, int width, int height) {
  Picture p;
  p.width = width;
  p.height = height;
  p.pixels.resize(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = p.pixels.data() + static_cast<std::size_t>(height - 1 - y) * width * 3;
    for (int x = 0; x < width; ++x) {
      Colour c;
      if (!close_object(x, y, width, height, f.close, c) &&
          !person(x, y, width, height, f.person, c) && !tree(x, y, width, height, f.sway, c)) {
        c = room(x, y, width, height);
      }
      const float u = static_cast<float>(x) / width;
      const float t = std::clamp((f.shadow_front - u) / f.shadow_width, 0.0f, 1.0f);
      const float lit = f.exposure * (1.0f - f.shadow_depth * t * t * (3.0f - 2.0f * t));
      const float channels[3] = {c.b, c.g, c.r};
      for (int k = 0; k < 3; ++k) {
        const std::uint32_t h = hash(x, y, f.noise_seed * 3u + static_cast<std::uint32_t>(k));
        const int noise = static_cast<int>(h % 7) - 3;
        row[3 * x + k] = to_byte(static_cast<float>(to_byte(channels[k] * lit + f.offset[k])) +
                                 static_cast<float>(noise));
      }
    }
  }
  return p;
}

void set_offset(FrameSetup& f, float level) { f.offset[0] = f.offset[1] = f.offset[2] = level; }

// The setups of one row, frame by frame.
std::vector<FrameSetup> setups(const std::string& row) {
  std::vector<FrameSetup> frames;
  auto add = [&frames](int count, const std::function<void(FrameSetup&, int)>& setup) {
    for (int i = 0; i < count; ++i) {
      FrameSetup f;
      f.noise_seed = 1000u + static_cast<std::uint32_t>(frames.size());
      setup(f, i);
      frames.push_back(f);
    }
  };
  const float ramp_step = 30.0f / 8;
  if (row == "still") {
    add(8, [](FrameSetup&, int) {});
  } else if (row == "lamp on") {
    // Seven frames: played in a loop, the steps fall on every phase of the passes' pairs.
    add(3, [](FrameSetup&, int) {});
    add(4, [](FrameSetup& f, int) { set_offset(f, 40); });
  } else if (row == "lamp off") {
    add(4, [](FrameSetup& f, int) { set_offset(f, 40); });
    add(3, [](FrameSetup&, int) {});
  } else if (row == "exposure ramp") {
    add(12, [&](FrameSetup& f, int i) { set_offset(f, ramp_step * std::clamp(i - 1, 0, 8)); });
  } else if (row == "white balance") {
    add(4, [](FrameSetup&, int) {});
    add(4, [](FrameSetup& f, int) {
      f.offset[0] = 24;
      f.offset[1] = 4;
      f.offset[2] = -16;
    });
  } else if (row == "cloud") {
    add(12, [](FrameSetup& f, int i) { f.shadow_front = -0.9f + 2.8f * i / 11; });
  } else if (row == "person crossing") {
    add(7, [](FrameSetup& f, int i) { f.person = -0.2f + 0.2f * i; });
  } else if (row == "person during the ramp") {
    add(10, [&](FrameSetup& f, int i) {
      f.person = -0.2f + 0.2f * i;
      set_offset(f, ramp_step * std::clamp(i, 0, 8));
    });
  } else if (row == "object close to the lens") {
    add(5, [](FrameSetup& f, int i) { f.close = 1.0f - 0.225f * i; });
    add(2, [](FrameSetup& f, int) { f.close = 0.1f; });
  } else if (row == "tree waving, masked") {
    add(10, [](FrameSetup& f, int i) { f.sway = 10.0f * ((i % 4 == 1) - (i % 4 == 3)); });
  } else if (row == "person outside the mask") {
    add(8, [](FrameSetup& f, int i) {
      f.sway = 10.0f * ((i % 4 == 1) - (i % 4 == 3));
      f.person = -0.2f + 0.14f * std::min(i, 4);
    });
  } else if (row == "lamp on, a person 1 s later") {
    add(2, [](FrameSetup&, int) {});
    add(12, [](FrameSetup& f, int i) {
      set_offset(f, 40);
      if (i >= 4) f.person = -0.2f + 0.2f * (i - 4);
    });
  }
  return frames;
}

}  // namespace

const std::vector<SceneRow>& scene_rows() {
  static const std::vector<SceneRow> rows = {
      {"still", {false, false, false}, false, false, false},
      {"lamp on", {false, false, false}, false, true, false},
      {"lamp off", {false, false, false}, false, true, false},
      {"exposure ramp", {false, false, false}, false, true, false},
      {"white balance", {false, false, false}, false, true, false},
      {"cloud", {false, false, false}, false, true, false},
      {"person crossing", {true, true, false}, false, false, true},
      {"person during the ramp", {true, true, false}, false, false, true},
      {"object close to the lens", {true, true, true}, false, false, true},
      {"tree waving, masked", {false, false, false}, true, false, false},
      {"person outside the mask", {true, true, false}, true, false, true},
      {"lamp on, a person 1 s later", {true, true, false}, false, false, false},
  };
  return rows;
}

std::vector<Picture> scene_frames(const std::string& row, int width, int height) {
  std::vector<Picture> frames;
  for (const FrameSetup& f : setups(row)) frames.push_back(render(f, width, height));
  return frames;
}

Picture tree_mask(int width, int height) {
  Picture p;
  p.width = width;
  p.height = height;
  p.pixels.resize(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = p.pixels.data() + static_cast<std::size_t>(height - 1 - y) * width * 3;
    for (int x = 0; x < width; ++x) {
      const bool ignored = x >= 0.57f * width && y <= 0.63f * height;
      std::fill_n(row + 3 * x, 3, ignored ? 0 : 255);
    }
  }
  return p;
}

std::vector<Picture> dark_then_still(int dark, int still, int width, int height) {
  std::vector<Picture> frames;
  for (int i = 0; i < dark + still; ++i) {
    FrameSetup f;
    f.noise_seed = 2000u + static_cast<std::uint32_t>(i);
    // The camera opens its exposure from black over the dark frames.
    if (i < dark) f.exposure = static_cast<float>(i) / dark;
    frames.push_back(render(f, width, height));
  }
  return frames;
}

std::string bmp_bytes(const Picture& picture, bool grey8) {
  const int bytes = grey8 ? 1 : 3;
  const std::uint32_t stride = (static_cast<std::uint32_t>(picture.width) * bytes + 3) & ~3u;
  const std::uint32_t table = grey8 ? 1024 : 0;
  const std::uint32_t offset = 54 + table;
  const std::uint32_t size = offset + stride * static_cast<std::uint32_t>(picture.height);
  std::string out(size, '\0');
  auto put = [&out](std::size_t at, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  out[0] = 'B';
  out[1] = 'M';
  put(2, size, 4);
  put(10, offset, 4);
  put(14, 40, 4);
  put(18, static_cast<std::uint32_t>(picture.width), 4);
  put(22, static_cast<std::uint32_t>(picture.height), 4);
  put(26, 1, 2);
  put(28, grey8 ? 8 : 24, 2);
  if (grey8) {
    put(46, 256, 4);
    for (std::uint32_t i = 0; i < 256; ++i) put(54 + 4 * i, i | (i << 8) | (i << 16), 4);
  }
  for (int y = 0; y < picture.height; ++y) {
    const std::uint8_t* in =
        picture.pixels.data() + static_cast<std::size_t>(y) * picture.width * 3;
    char* row = out.data() + offset + static_cast<std::size_t>(y) * stride;
    for (int x = 0; x < picture.width; ++x) {
      if (grey8) {
        row[x] = static_cast<char>(in[3 * x + 1]);
      } else {
        row[3 * x] = static_cast<char>(in[3 * x]);
        row[3 * x + 1] = static_cast<char>(in[3 * x + 1]);
        row[3 * x + 2] = static_cast<char>(in[3 * x + 2]);
      }
    }
  }
  return out;
}

}  // namespace talvex::testing
