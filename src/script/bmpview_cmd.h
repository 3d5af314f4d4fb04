// The BMPVIEW script command: a bitmap file, or a raw 8-bit grey frame (a
// target's frame-buffer dump), shown in the viewer window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/ui.h"

// Installs BMPVIEW in the runner's command table.
void BmpviewCmdInit();

// Decodes an uncompressed Windows bitmap (1, 4, 8, 24 or 32 bits per pixel,
// bottom-up or top-down) into RGB rows, top row first. nullopt, with the
// reason in error, for anything else.
std::optional<UiBitmap> BmpDecode(const std::string& bytes, std::string* error);
// A raw grey frame: width x height bytes, rows stride bytes apart (0: width),
// bottomUp when the first row in the data is the bottom one.
std::optional<UiBitmap> Gray8Decode(const std::string& bytes, int width, int height, int stride, bool bottomUp,
                                    std::string* error);
