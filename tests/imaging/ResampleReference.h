// The area-averaging resampler written straight from its description, one destination pixel at a time,
// nothing precomputed and nothing shared with the production code: the oracle of the resampler tests.
#pragma once

#include <cmath>
#include <cstdint>

#include "imaging/WorkingImage.h"

namespace imaging::reference {

// Integer part, plus 1 when the fractional part is above 0.
inline int Ceil(float x) {
  const float whole = std::trunc(x);
  return static_cast<int>(whole) + (x - whole > 0 ? 1 : 0);
}

inline WorkingImage Resample(const WorkingImage& s, int dW, int dH) {
  const int sW = s.Width();
  const int sH = s.Height();
  if (sW == dW && sH == dH) return s;
  WorkingImage d(dW, dH);
  // Scale factors and the area factor, each quotient and the product rounded to single precision.
  const float sx = static_cast<float>(static_cast<double>(sW) / dW);
  const float sy = static_cast<float>(static_cast<double>(sH) / dH);
  const float kx = static_cast<float>(1.0 / sx);
  const float ky = static_cast<float>(1.0 / sy);
  const float k = static_cast<float>(static_cast<double>(kx) * ky);
  for (int y = 0; y < dH; ++y) {
    for (int x = 0; x < dW; ++x) {
      const float y0 = static_cast<float>(static_cast<double>(y) * sy);
      const float y1 = static_cast<float>(static_cast<double>(y0) + sy);
      const float x0 = static_cast<float>(static_cast<double>(x) * sx);
      const float x1 = static_cast<float>(static_cast<double>(x0) + sx);
      float red = 0, green = 0, blue = 0;
      for (int j = static_cast<int>(y0); j <= Ceil(y1) - 1; ++j) {
        float wy = 1;
        if (j < y0) wy = static_cast<float>(wy - (static_cast<double>(y0) - j));
        if (j + 1 > y1) wy = static_cast<float>(wy - (static_cast<double>(j) + 1 - y1));
        const int row = j >= sH ? sH - 1 : j;
        for (int i = static_cast<int>(x0); i <= Ceil(x1) - 1; ++i) {
          float wx = 1;
          if (i < x0) wx = static_cast<float>(wx - (static_cast<double>(x0) - i));
          if (i + 1 > x1) wx = static_cast<float>(wx - (static_cast<double>(i) + 1 - x1));
          const int column = i >= sW ? sW - 1 : i;
          const float w = static_cast<float>(static_cast<double>(wx) * wy * k);
          const std::uint32_t pixel = s.At(column, row);
          red = static_cast<float>(red + static_cast<double>((pixel >> 16) & 0xFF) * w);
          green = static_cast<float>(green + static_cast<double>((pixel >> 8) & 0xFF) * w);
          blue = static_cast<float>(blue + static_cast<double>(pixel & 0xFF) * w);
        }
      }
      d.At(x, y) = PackRgb(static_cast<std::uint32_t>(static_cast<int>(red)),
                           static_cast<std::uint32_t>(static_cast<int>(green)),
                           static_cast<std::uint32_t>(static_cast<int>(blue)));
    }
  }
  return d;
}

}  // namespace imaging::reference
